// The engine's entries in the shape of the model's, for comparing the two.
#pragma once

#include <string>
#include <vector>

#include "fuzz/log_model.h"
#include "index/clsIndex.h"

namespace korva::fuzz {

inline std::vector<model::Entry> entriesOf(const clsIndex& index) {
  std::vector<model::Entry> out;
  out.reserve(index.size());
  for (std::size_t i = 0; i < index.size(); ++i) {
    const KeyTable::Entry& e = index.entries()[i];
    out.push_back({std::string(e.keyView()), e.position()});
  }
  return out;
}

}  // namespace korva::fuzz
