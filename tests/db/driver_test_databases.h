// The databases the driver tests run against; they live with the fixture
// that the helper, session and writer tests share.
#pragma once

#include "tests/support/test_database.h"
