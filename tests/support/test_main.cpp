// Test entry point: every test process works in a fresh temporary directory (the card-data file
// lives in the current one) and starts from the simulator's power-on state.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "OstrelBoardSim.h"
#include "driver/driver_binding.h"

namespace {

class TemporaryWorkingDirectory : public ::testing::Environment {
public:
    void SetUp() override {
        namespace fs = std::filesystem;
        previous_ = fs::current_path();
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            fs::path candidate = fs::temp_directory_path() /
                                 ("ostrel-test-" + std::to_string(random()) + "-" +
                                  std::to_string(attempt));
            std::error_code error;
            if (fs::create_directory(candidate, error)) {
                directory_ = candidate;
                fs::current_path(directory_);
                break;
            }
        }
        ASSERT_FALSE(directory_.empty()) << "no temporary working directory";
        SIM_Reset();
        // The tests link the simulator. Bind it now, as the first open would, so that a test
        // that drives the driver layer or the register window directly reaches it too.
        ASSERT_TRUE(ostrel::BindDriverLibrary()) << ostrel::DriverBindingProblem();
        ASSERT_TRUE(ostrel::DriverLibrarySimulated());
    }
    void TearDown() override {
        namespace fs = std::filesystem;
        std::error_code error;
        fs::current_path(previous_, error);
        if (!directory_.empty()) fs::remove_all(directory_, error);
    }

private:
    std::filesystem::path previous_;
    std::filesystem::path directory_;
};

}  // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new TemporaryWorkingDirectory);
    return RUN_ALL_TESTS();
}
