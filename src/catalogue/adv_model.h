// One model of the catalogue and the process-wide list of them: its head and tail, and how a
// record joins it. Loading, lookups and release are in model_list.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kAdvModelNameSize = 128;
inline constexpr std::size_t kAdvModelCmSize = 64;
inline constexpr std::size_t kAdvModelCmCount = 3;

struct AdvModel {
  char name[kAdvModelNameSize];  // as written in the line, quotes included, blanks removed
  std::uint32_t product_id;
  std::uint32_t vendor_id;
  std::int32_t type;           // first TYPE number modulo 100
  std::int32_t type_hundreds;  // first TYPE number divided by 100
  std::int32_t type2;
  std::int32_t re;
  std::int32_t we;
  char cm[kAdvModelCmCount][kAdvModelCmSize];
  AdvModel* next;
};

// The head of the catalogue list, looked up by name in the running program; null while the
// catalogue is not loaded.
extern "C" AdvModel* root_adv_model;

namespace lumora {

// The last record of the list (null while the list is empty), so appending costs O(1).
extern AdvModel* tail_adv_model;

// Links model behind the tail of the list (as its head when the list is empty).
void append_adv_model(AdvModel* model);

}  // namespace lumora
