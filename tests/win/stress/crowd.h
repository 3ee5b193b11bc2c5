// Many copies of one program started at the same instant and watched as a
// crowd: which copies ever showed a window, which show a message box now,
// and how each one ended.
//
// Every copy is created suspended and all are let go together, so they meet
// the program's shared names at once. Each look enumerates the top-level
// windows once and matches them to the copies by process id; only visible
// windows count (Wine gives every GUI process an invisible IME window).
#pragma once

#include "win/support/process.h"

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace yytest {

class Crowd {
public:
    // Starts `count` copies of `exe`, then resumes them all.
    Crowd(const std::string& exe, int count);
    Crowd(const Crowd&) = delete;
    Crowd& operator=(const Crowd&) = delete;

    int Count() const { return static_cast<int>(copies_.size()); }
    // Empty when every copy started.
    const std::string& StartProblem() const { return startProblem_; }

    enum class Until { Settled, Ended };
    // Looks at the crowd every few milliseconds until every copy has ended
    // or shows a message box (Settled), or until every copy has ended
    // (Ended). `eachLook` runs once per look. False after `timeoutMs`.
    bool Watch(Until until, DWORD timeoutMs, const std::function<void()>& eachLook = {});

    // Copies that showed a visible top-level window at any look, by process
    // id, with the first such window as "class 'caption'" (raw bytes).
    const std::map<DWORD, std::string>& WindowsSeen() const { return windowsSeen_; }
    // Visible message boxes and copies ended, as of the last look.
    const std::vector<HWND>& Boxes() const { return boxes_; }
    int Ended() const { return ended_; }

    // The exit codes of the ended copies, counted: "49 x 0x0, 1 x 0xDEAD".
    std::string ExitCodeSummary() const;

private:
    void Look();

    std::vector<ChildProcess> copies_;
    std::string startProblem_;
    std::map<DWORD, std::string> windowsSeen_;
    std::vector<HWND> boxes_;
    int ended_ = 0;
};

} // namespace yytest
