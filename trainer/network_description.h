#pragma once
// The network descriptions of a training folder: "train.cfg" and "test.cfg"
// filled from the embedded templates of a model variant, and "version", which
// names the variant. Two families are written in protected form: a clear head,
// the separator "<-<+>->" and the enciphered body.
//
// No GUI here: the main dialog passes its spin-box values in, and the tests
// call these functions directly.

#include <QString>

#include <optional>

// Resource folder of the templates: one sub-folder per model variant, each with
// "yolo-train-template.cfg" and "yolo-test-template.cfg".
extern const char kYoloCfgResourceRoot[];   // ":/nomu_pelto_varnex/yolo_cfg/"
extern const char kCfgMarkerLine[];         // "#**<>"

// The whole file (a template, a description, "version") as UTF-8 text; a null
// string when it cannot be opened. A file on disk is read only when it is a
// regular file of at most input_limits::kTrainingFolderTextBytes; another one
// is refused with a line on stderr.
QString read_text_file(const QString& path);

// ":/nomu_pelto_varnex/yolo_cfg/" + model + "/yolo-train-template.cfg" (train)
// or "/yolo-test-template.cfg".
QString yolo_template_path(const QString& model, bool train);

// The filters of the convolution before each detection layer: 3 x (classes + 5)
// when the name contains "V7", "V3", "V4", "NomuedDet", "KVTRDet" or "Fastest"
// (three anchor masks per [yolo]), otherwise 5 x (classes + 5) when it contains
// "V2" (five anchors of [region]); case-sensitive. A name with none of these
// has no known detection layer: no value.
std::optional<int> cfg_filter_count(const QString& model, int classes);

// NomuedDet2 and KVTRDet descriptions are written in protected form.
bool is_protected_model(const QString& model);

// Train template: every "@@@@" -> classes, "$$$$" -> filters, "$$batch$$" ->
// batch and "$$subdivisions$$" -> subdivisions, in decimal.
QString fill_train_template(const QString& text, int classes, int filters, int batch, int subdivisions);
// Test template: "@@@@" and "$$$$" only; batch placeholders in its comment lines
// stay as they stand.
QString fill_test_template(const QString& text, int classes, int filters);

// The protected form: the lines before the first line that contains "#**<>",
// each followed by "\n"; then "<-<+>->"; then the cipher text (SimpleCrypt with
// kNomuCryptKey) of the lines after it, each followed by "\n" (a text ending in
// "\n" gives a last empty line, which gets its "\n" too). Marker lines are
// dropped; no newline after the cipher text.
QString protect_cfg_text(const QString& text);

// The form a darknet parser reads: for a protected text, the head, "\n" and the
// deciphered body (as the training run writes it into its temporary cfg; a body
// that does not decipher with the fixed key reads as empty); any other text
// unchanged.
QString reveal_cfg_text(const QString& text);

// "V4-tiny : 3 class": model, " : ", classes and " class", no newline.
QString cfg_version_text(const QString& model, int classes);

struct BatchSettings {
    int batch;
    int subdivisions;
};

// Batch and subdivisions the model box sets for a model: 64 and 8 when the name
// contains "tiny" or starts with "NomuedDet", "KVTRDet" or "Fastest", else 4
// and 4; without a usable GPU always 4 and 4.
BatchSettings model_batch_settings(const QString& model, bool gpuOk);

// Fills both templates of `model` and writes dataDir + "/train.cfg",
// dataDir + "/test.cfg" (protected form for the protected families) and
// dataDir + "/version", each replaced whole through a temporary file; a file
// that cannot be written whole (a full disk) keeps its previous content and
// prints one line on standard error naming it.
// Writes nothing when a template is missing or empty, when the model has no
// known filter count or when dataDir is not a folder, so an earlier
// description is never replaced by an empty or half-filled one; each such case
// prints one line on standard error. Returns true when all three files were
// written.
bool write_network_description(const QString& model, int classes, int batch, int subdivisions,
                               const QString& dataDir);
