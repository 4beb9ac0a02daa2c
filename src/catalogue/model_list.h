// The in-memory model catalogue: the list of AdvModel records headed by root_adv_model, how it
// is loaded and released, and the lookups and dump the commands use.
#pragma once

#include <cstdint>

#include "catalogue/adv_model.h"

namespace lumora {

// Reads every ".ini" entry of kModelsDir in directory order, then kDefaultCatalogue. Returns 0,
// or -1 without reading anything while the catalogue is loaded. A load that finds no model
// line leaves the catalogue not loaded.
int load_adv_models();

// load_adv_models with the models directory and the default file given.
int load_adv_models_from(const char* models_dir, const char* default_file);

// 1 when some record's name equals name exactly (quotes included), else 0. Never loads.
int adv_model_exists(const char* name);

// Stores the identifiers of the first record named name and returns 1; returns 0 and leaves
// both outputs as they were when there is none. Never loads.
int get_adv_model_ids(const char* name, std::uint32_t* vendor_id, std::uint32_t* product_id);

// Prints every record, one line each in list order, to standard output. Returns 0.
int dump_adv_models();

// Releases every record; the next load reads the catalogue files again. Returns 0.
int free_adv_models();

}  // namespace lumora
