#pragma once
// The trainer's annotation model and its one persistent form, the ground-truth
// file (".gt"): a JSON array with one element per image.
//
// All coordinates are integer pixels of the image file as it lies on disk,
// never of the scaled view.

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QString>

#include <opencv2/core.hpp>

#include <vector>

// The 6-stop palette of the class colours, rows (blue, green, red) as
// fractions: magenta, red, yellow, green, cyan, blue.
extern const float kClassPalette[6][3];

// Samples the palette at ((index * 123457) mod modulus) / modulus * 5 by linear
// blending of two adjacent stops, in single precision, scaled to 0..255. The
// index product is taken in 64 bits, so large indexes still land on a blend of
// two rows. Channel 3 is 0.
cv::Scalar palette_color(long long index, int modulus, const float palette[6][3]);

// The colour of class `index` (modulus 999). Class 1 is (0, 255, 24.7597).
cv::Scalar class_color(long long index, const float palette[6][3]);

// One labelled thing in one image: a box, its centre, a class and an optional
// polygon.
class Object {
public:
    int label_index = 0;             // class index
    QString label;                   // class name
    cv::Scalar color;                // blue, green, red (0..255, may be fractional), 0
    cv::Point center;                // centre of the box
    cv::Rect bbox;                   // top-left corner and size
    std::vector<cv::Point> landmark; // polygon in click order; empty for a plain box

    // The object record of the ground-truth file: "bbox", "center", "color",
    // "label", "label_index", "landmark", "landmark_len".
    QJsonObject save() const;

    // Overwrites the fields from such a record. Only the parts that exist are
    // read; a missing or non-integer number reads 0. "color" is applied only
    // when present (and channel 3 keeps its value).
    void restore(const QJsonObject& json);
};

// The objects of one image, in drawing order and file order.
typedef std::vector<Object> Frame;

// The text of the ground-truth file `path`, read only from a regular file of
// at most input_limits::kGroundTruthBytes (a FIFO or a device under that name is never
// waited on). False with the reason, naming the file, otherwise.
bool read_ground_truth(const QString& path, QByteArray* text, QString* why);

// The ground-truth file `path` read (see read_ground_truth) and parsed as
// JSON. False with the reason, naming the file, otherwise: the reader's, or
// the parser's with the byte offset it stopped at ("<path> is not JSON:
// invalid UTF8 string at offset 17").
bool parse_ground_truth(const QString& path, QJsonDocument* doc, QString* why);

// The index of the first class named exactly `label`, or -1.
int class_index_of(const std::vector<QString>& classes, const QString& label);

// The labelling of the open image folder.
class Labeling {
public:
    static constexpr int kMaxClasses = 99999; // size of the colour table

    Labeling();
    Labeling(const Labeling&) = delete;
    Labeling& operator=(const Labeling&) = delete;

    std::vector<QString> classes;             // position = class index; unique, never empty
    cv::Scalar class_colors[kMaxClasses];     // entry i = colour of class i
    std::vector<QString> frame_names;         // image file names in folder order
    QMap<QString, Frame> frames;              // one Frame per image, by file name
    int active_object = -1;                   // selected object of the current image
    float palette[6][3];

    // Replaces every frame and the class list by the content of the file.
    // With no folder open nothing happens. A file that cannot be read or
    // parsed (see parse_ground_truth) leaves every image without objects and
    // the class list empty, prints one line on stderr with the reason, and
    // puts the reason into *why when given. Returns whether the file parsed.
    // Prints "[Varnex] : load gt finished" when it did.
    bool load_gt(const QString& path, QString* why = nullptr);

    // Writes every frame to the file, through a temporary file renamed over
    // it, so a failed write (a full disk included) never destroys the
    // previous file. The file keeps its permissions; a symbolic link to it
    // stays a link to the rewritten file. Where the folder takes no new file
    // while the file itself is writable, the file is rewritten in place once
    // its new length is reserved (a full disk leaves it untouched). Returns
    // whether every byte was written; a failure also prints one stderr line
    // naming the file, and puts the system's reason ("No space left on
    // device") into *why when given.
    bool save_gt(const QString& path, QString* why = nullptr) const;

    // Appends a class with its colour. Refused (returns -1, one stderr line
    // naming the label) when the colour table is full; otherwise the new index.
    int add_class(const QString& name);

    // The index of a class name (exact, case-sensitive), or -1.
    int class_index(const QString& name) const;
};
