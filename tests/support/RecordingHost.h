#pragma once
// The engine's host for tests: it keeps what the engine showed, in order, and lets a test act
// at each pump point or ask the run to stop.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/EngineHost.h"

namespace tarvolen::testing {

class RecordingHost : public EngineHost {
  public:
    void appendLog(std::string_view text) override { log.emplace_back(text); }
    void processEvents() override { ++events; }
    void reportProgress(const RunProgress& progress) override {
        if (onProgress) onProgress(progress);
    }
    bool stopRequested() override { return stop; }
    void showMessage(std::string_view text, std::string_view caption, MessageIcon) override {
        messages.push_back(std::string(caption) + ": " + std::string(text));
    }
    std::vector<std::string> log;
    std::vector<std::string> messages;
    int events = 0;
    // Called at each pump point, where a test can act in the middle of a run.
    std::function<void(const RunProgress&)> onProgress;
    bool stop = false;  // what stopRequested() answers
};

}  // namespace tarvolen::testing
