#include "catalogue/adv_model.h"

extern "C" {
AdvModel* root_adv_model = nullptr;
}
