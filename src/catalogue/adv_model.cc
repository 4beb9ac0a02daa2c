#include "catalogue/adv_model.h"

extern "C" {
AdvModel* root_adv_model = nullptr;
}

namespace lumora {

AdvModel* tail_adv_model = nullptr;

void append_adv_model(AdvModel* model) {
  if (root_adv_model == nullptr) {
    root_adv_model = model;
  } else {
    tail_adv_model->next = model;
  }
  tail_adv_model = model;
}

}  // namespace lumora
