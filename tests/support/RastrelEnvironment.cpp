// Every test of the binary runs against a registry file of its own with
// rastrel and the thumbnail writer registered in it.
#include "support/RastrelTesting.h"

namespace {
const auto* const g_environment =
    ::testing::AddGlobalTestEnvironment(new rastrel::testing::RegisteredComponents);
}
