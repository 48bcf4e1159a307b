#pragma once

// The simulator page view model fed as the main window feeds it: a session
// manager over a fake simulator back end, its data and status signals wired to
// the view model, and the view model's radio requests wired to the back end.

#include "manager/NetworkManager.h"
#include "support/FakeSimulator.h"
#include "ui/viewmodel/SimulatorPageViewModel.h"

#include <QCoreApplication>

#include <memory>

namespace velk::test {

struct SimulatorPageRig {
    using Vm = ui::SimulatorPageViewModel;
    using Nm = manager::NetworkManager;

    std::unique_ptr<Nm> nm = std::make_unique<Nm>();
    std::shared_ptr<FakeSimulator> sim = std::make_shared<FakeSimulator>();
    std::unique_ptr<Vm> vm = std::make_unique<Vm>();

    SimulatorPageRig() {
        nm->setSimulator(sim);
        QObject::connect(nm.get(), &Nm::simulatorDataUpdated, vm.get(), &Vm::updateFromSimulatorData);
        QObject::connect(nm.get(), &Nm::simulatorPluginStatusUpdated, vm.get(), &Vm::onPluginStatusUpdated);
        QObject::connect(nm.get(), &Nm::simulatorCslStatusUpdated, vm.get(), &Vm::onCslStatusUpdated);
        QObject::connect(nm.get(), &Nm::simulatorTrafficMappingStatusUpdated, vm.get(),
                         &Vm::onTrafficMappingStatusUpdated);
        QObject::connect(nm.get(), &Nm::simulatorXPlaneVersionUpdated, vm.get(), &Vm::onXPlaneVersionUpdated);
        QObject::connect(nm.get(), &Nm::simulatorTrafficSnapshotUpdated, vm.get(),
                         &Vm::onTrafficSnapshotUpdated);
        QObject::connect(vm.get(), &Vm::setCom1FrequencyRequested, sim.get(),
                         [this](double mhz) { sim->setCom1Frequency(static_cast<float>(mhz)); });
        QObject::connect(vm.get(), &Vm::setCom2FrequencyRequested, sim.get(),
                         [this](double mhz) { sim->setCom2Frequency(static_cast<float>(mhz)); });
        QObject::connect(vm.get(), &Vm::reconnectRequested, nm.get(), &Nm::reconnectSimulator);
        // The binding's own connect request, queued by setSimulator, is not the page's.
        QCoreApplication::processEvents();
        sim->clearCalls();
    }

    // Three plausible positions make the session manager call the data valid.
    void makeDataValid() {
        for (int i = 1; i <= 3; ++i) {
            model::UserAircraftData data;
            data.latitude = 31.14342;
            data.longitude = 121.8052 + i * 1e-5;
            data.groundSpeed = 12.5;
            sim->setUserAircraftData(data);
        }
    }
};

} // namespace velk::test
