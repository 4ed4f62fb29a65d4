// Fixture: a fresh host with the test application loaded.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "subhost/host.h"
#include "subhost/test_app.h"

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        subhost::hostReset();
        testapp::reset();
    }
    void TearDown() override { subhost::hostReset(); }

    void load(const std::string& how = "KEYIN") {
        std::string error;
        ASSERT_TRUE(
            subhost::loadLinkedApplication(testapp::mdlMain, testapp::resources, "/apps/testapp.so", how, &error))
            << error;
        testapp::state().log.clear();
    }
    std::vector<std::string>& log() { return testapp::state().log; }
    testapp::Record& record() { return testapp::state().record; }

    // Events of the transcript named name.
    std::vector<nlohmann::json> events(const std::string& name) {
        std::vector<nlohmann::json> out;
        for (const auto& e : subhost::transcript())
            if (e.value("event", "") == name) out.push_back(e);
        return out;
    }
};
