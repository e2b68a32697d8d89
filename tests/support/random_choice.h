// Seeded choices for the generators of differential tests: the same seed
// gives the same documents on every run.
#pragma once

#include <initializer_list>
#include <iterator>
#include <random>
#include <string>

namespace morvex::testing {

class TRandomChoice {
 public:
  explicit TRandomChoice(unsigned seed) : random_(seed) {}

  // A number from 0 to below - 1.
  int Number(int below) { return static_cast<int>(random_() % static_cast<unsigned>(below)); }
  std::string Pick(std::initializer_list<const char*> choices) {
    auto it = choices.begin();
    std::advance(it, Number(static_cast<int>(choices.size())));
    return *it;
  }

 private:
  std::mt19937 random_;
};

}  // namespace morvex::testing
