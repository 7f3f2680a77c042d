// A temporary folder that is the working directory while a test runs, with file helpers.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "server/config/engine_log.h"

class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::string pattern = (std::filesystem::temp_directory_path() / "pwconfig.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        std::filesystem::current_path(dir_);
        EngineLog::instance().close();  // log.html of this folder
    }
    void TearDown() override {
        EngineLog::instance().close();
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(dir_);
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    void writeFile(const std::string& name, const std::string& bytes) const {
        std::filesystem::create_directories(std::filesystem::path(path(name)).parent_path());
        std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::string readFile(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool exists(const std::string& name) const { return std::filesystem::exists(path(name)); }

    // The messages of the error entries in log.html, in order.
    std::vector<std::string> loggedErrors() const {
        const std::string log = readFile("log.html");
        std::vector<std::string> messages;
        const std::string marker = "ERROR: ";
        for (size_t at = log.find(marker); at != std::string::npos; at = log.find(marker, at)) {
            at += marker.size();
            const size_t end = log.find("\r\n", at);
            messages.push_back(log.substr(at, end - at));
        }
        return messages;
    }

    std::string dir_;

private:
    std::filesystem::path previous_;
};
