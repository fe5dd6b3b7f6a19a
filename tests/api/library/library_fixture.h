// A throw-away settings folder for cameras opened through the library.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace bayercam::test {

class LibraryTest : public ::testing::Test {
  protected:
    LibraryTest() {
        char pattern[] = "/tmp/bayercam-library-XXXXXX";
        settings_ = mkdtemp(pattern);
    }
    ~LibraryTest() override {
        std::error_code error;
        std::filesystem::remove_all(settings_, error);
    }
    const char* Settings() const { return settings_.c_str(); }

    std::string settings_;
};

}  // namespace bayercam::test
