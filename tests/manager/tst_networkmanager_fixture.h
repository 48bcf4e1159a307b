#pragma once

// The shared session fixture, under the name the session manager's tests use.
#include "support/SessionFixture.h"
