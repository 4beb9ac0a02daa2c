// The model catalogue in memory, what the lines of the catalogue files mean: the AdvModel
// record and the process-wide list of them headed by root_adv_model, how one model line
// becomes a record, how the list is loaded (through the reader of catalogue_file) and
// released, and the lookups and dump the commands use.
#pragma once

#include <cstddef>
#include <cstdint>

#include "catalogue/catalogue_file.h"

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

// One model line: its whitespace removed, its comma-separated fields, and the record made of
// them.

// Room for the ID text of a model line: a whole line read from a file fits, so the ID is
// never cut before it is scanned.
inline constexpr std::size_t kModelIdTextSize = 1024;

// Removes all whitespace from line (in place), appends a zero-filled record to the catalogue
// list and fills it from the line's fields. Returns 0, or -1 when no memory could be had (the
// line is then dropped and the list is unchanged).
int parse_adv_model(char* line);

// What parse_adv_model does to a record, on a record of the caller's (zero-filled before).
void fill_adv_model(char* line, AdvModel& model);

// The fields of a model line: there is no quoting, every comma ends a field.

// Takes the field at the start of rest: cuts the line at its first comma and scans the field
// as a decimal number ("%d": optional sign and digits, anything after them ignored) into
// target. An empty field, or one that does not begin with a number, leaves target as it was.
// When rest is null (an earlier field was the last one) target receives missing_value.
// Returns the text after the comma, or null when the field was the last one.
char* next_field(char* rest, std::int32_t& target, std::int32_t missing_value);

// The same for a text field ("%s"): the field is copied into target (size bytes), cut to fit.
// An empty field leaves target as it was; a missing one empties it.
char* next_field(char* rest, char* target, std::size_t size);

template <std::size_t N>
char* next_field(char* rest, char (&target)[N]) {
  return next_field(rest, target, N);
}

// Loading, lookups and release.

// Reads every ".ini" entry of kModelsDir in directory order, then kDefaultCatalogue. Returns 0,
// or -1 without reading anything while the catalogue is loaded. A load that finds no model
// line leaves the catalogue not loaded.
int load_adv_models();

// Appends a record for each model line of the file's first "[Support Model]" section. A file
// that cannot be opened or read contributes nothing.
void read_adv_model_file(const char* path);

// load_adv_models with the models directory and the default file given.
int load_adv_models_from(const char* models_dir, const char* default_file);

// The same files in the same order, each model line handed to on_model_line instead of
// parse_adv_model: a reader that keeps only some models calls parse_adv_model for those.
int load_adv_models_from(const char* models_dir, const char* default_file,
                         ModelLineHandler on_model_line);

// 1 when some record's name equals name exactly (quotes included), else 0. Never loads.
int adv_model_exists(const char* name);

// Stores the identifiers of the first record named name and returns 1; returns 0 and leaves
// both outputs as they were when there is none. Never loads.
int get_adv_model_ids(const char* name, std::uint32_t* vendor_id, std::uint32_t* product_id);

// Prints every record, one line each in list order, to standard output. Returns 0.
int dump_adv_models();

// Releases every record; the next load reads the catalogue files again. Returns 0.
int free_adv_models();

// The catalogue is process-wide: a user of it starts from an empty one and leaves none
// behind, on every path (its refusals included), so that a later load in the process reads
// the files again instead of finding the catalogue loaded.
class ScopedCatalogue {
 public:
  ScopedCatalogue() { free_adv_models(); }
  ~ScopedCatalogue() { free_adv_models(); }
  ScopedCatalogue(const ScopedCatalogue&) = delete;
  ScopedCatalogue& operator=(const ScopedCatalogue&) = delete;
};

}  // namespace lumora
