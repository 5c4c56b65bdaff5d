#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "usb/UserConfig.h"

namespace vestra::usb {
namespace {

// Sets or clears an environment variable for the lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(UserConfig, MorviConfigPathFollowsTheXdgRules) {
    ScopedEnv home("HOME", "/home/op");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(morviConfigPath(), "/cfg/Zentor/Morvi.conf");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(morviConfigPath(), "/home/op/.config/Zentor/Morvi.conf");
    }
    for (const char* ignored : {"", "relative/dir"}) {
        ScopedEnv xdg("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(morviConfigPath(), "/home/op/.config/Zentor/Morvi.conf") << '"' << ignored << '"';
    }
}

}  // namespace
}  // namespace vestra::usb
