// Program entry: the run driver on the process's console (standard output,
// or standard error when standard output carries data).
#include <iostream>

#include "app/console_log.h"
#include "app/interrupt.h"
#include "app/run_driver.h"
#include "scripting/xslt_scripts.h"

int main(int argc, char** argv) {
  morvex::ReserveStandardDescriptors();
  morvex::InstallInterruptHandlers();
  morvex::InstallXsltScriptHost();
  morvex::TConsole console(std::cout, std::cin, std::cerr);
  return morvex::RunMorvex(argc, argv, console);
}
