// The web-API test server with the demo account, for signing in by hand:
//   velk-webapi-test-server &
//   VELK_API_BASE_URL=<printed address> velk-client
// Any user name and password sign in.
#include "support/DemoAccount.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    velk::test::WebApiTestServer server;
    velk::test::DemoAccount::install(server);
    QTextStream(stdout) << "VELK_API_BASE_URL=" << server.url().toString() << Qt::endl;
    return QCoreApplication::exec();
}
