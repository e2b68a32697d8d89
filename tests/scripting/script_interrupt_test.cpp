#include "scripting/script_interrupt.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "scripting/script_host.h"
#include "tests/support/raised_message.h"

namespace morvex {
namespace {

bool RunForever(const std::string& language, const std::string& script, std::string& error) {
  TXTransformInfo transform;
  transform.Language = language;
  transform.Content = script;
  return testing::Succeeds([&] { RunActiveScript({}, {}, transform, nullptr); }, error);
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

// A script cannot keep Ctrl+C from ending the program: not with a debug
// hook of its own, not by catching errors.
TEST(ScriptInterruptDeathTest, CtrlCEndsTheProgramDuringAScript) {
  const std::pair<const char*, const char*> scripts[] = {
      {"JScript", "while (true) {}"},
      {"LuaScript", "local n = 0\nwhile true do n = n + 1 end"},
      {"LuaScript", "debug.sethook()\nwhile true do end"},
      {"LuaScript", "while true do pcall(function() while true do end end) end"},
      {"PythonScript", "while True:\n  pass"},
      {"PythonScript",
       "import signal\nwhile True:\n  try:\n    while True: pass\n  except BaseException: pass"},
  };
  for (const auto& [language, script] : scripts) {
    EXPECT_EXIT(
        {
          PressCtrlCDuringTheScript();
          std::string error;
          RunForever(language, script, error);
        },
        ::testing::ExitedWithCode(130), "The script was stopped by the user \\(Ctrl\\+C\\)\\.")
        << script;
  }
}

// A background job ignores Ctrl+C from its start; scripts keep it ignored.
TEST(ScriptInterrupt, AnIgnoredCtrlCStaysIgnored) {
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, &previous);
  std::string error;
  // The signal comes from a background shell while the script runs (system()
  // itself ignores SIGINT while it waits).
  EXPECT_TRUE(RunForever("LuaScript",
                         "local pid = io.open('/proc/self/stat'):read('n')\n"
                         "os.execute('(sleep 0.1; kill -INT ' .. pid .. ') &')\n"
                         "local t = os.clock()\n"
                         "while os.clock() - t < 1 do end",
                         error))
      << error;
  struct sigaction after {};
  sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, SIG_IGN);
  sigaction(SIGINT, &previous, nullptr);
}

}  // namespace
}  // namespace morvex
