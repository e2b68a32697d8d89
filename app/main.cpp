// Program entry: the run driver on the process's console.
#include <iostream>

#include "app/console_log.h"
#include "app/interrupt.h"
#include "app/run_driver.h"

int main(int argc, char** argv) {
  morvex::ReserveStandardDescriptors();
  morvex::InstallInterruptHandlers();
  morvex::TConsole console(std::cout, std::cin);
  return morvex::RunMorvex(argc, argv, console);
}
