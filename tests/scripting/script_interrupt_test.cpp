#include "scripting/script_interrupt.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "scripting/script_host.h"

namespace morvex {
namespace {

bool RunForever(const std::string& language, const std::string& script, std::string& error) {
  TScriptTransformInfo transform;
  transform.Language = language;
  transform.Content = script;
  return RunActiveScript({}, {}, transform, nullptr, error);
}

// Sends Ctrl+C to this process once the script host has taken over SIGINT.
void PressCtrlCDuringTheScript() {
  std::thread([] {
    for (;;) {
      struct sigaction current {};
      sigaction(SIGINT, nullptr, &current);
      if (current.sa_handler != SIG_DFL) break;
      usleep(1000);
    }
    kill(getpid(), SIGINT);
  }).detach();
}

TEST(ScriptInterrupt, CtrlCStopsALuaScriptAsAScriptError) {
  std::string error;
  PressCtrlCDuringTheScript();
  EXPECT_FALSE(RunForever("LuaScript", "local n = 0\nwhile true do n = n + 1 end", error));
  EXPECT_EQ(error,
            "[line: 2, col: 0] The script was stopped by the user (Ctrl+C). "
            "while true do n = n + 1 end");
  EXPECT_FALSE(InterruptRequested());
}

TEST(ScriptInterruptDeathTest, CtrlCEndsTheProgramDuringAJavaScriptRun) {
  EXPECT_EXIT(
      {
        PressCtrlCDuringTheScript();
        std::string error;
        RunForever("JScript", "while (true) {}", error);
      },
      ::testing::ExitedWithCode(130), "The script was stopped by the user \\(Ctrl\\+C\\)\\.");
}

}  // namespace
}  // namespace morvex
