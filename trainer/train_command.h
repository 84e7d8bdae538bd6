#pragma once
// What the train operation reads from a training folder and the command it
// builds from it: the class count, the model name, the pre-trained start
// weights of the model's family, a protected network description turned back
// into clear text, and the command line of the training executable.

#include <QString>
#include <QStringList>

// The start weights of a model family: the first line of the console and the
// file in the installation folder.
struct StartWeights {
    QString console_prefix; // e.g. "Train with model V4-tiny : "
    QString file;           // e.g. "yolov4-tiny.conv.29"
};

// The first rule that matches the model text (case-sensitive "contains"): V3,
// V2, V4-tiny or NomuedDet, Fastest, V4, V7-tiny, V7; anything else (the
// KVTRDet models) trains from "d53.conv.74" with the prefix
// "Train with model NULL : ".
StartWeights start_weights_for(const QString& model_text);

// The installation folder of the start weights: the home folder followed by
// "/.nomu_core_install/share/d/".
QString start_weights_folder();

// The training folder's "data" folder: the text, a "/" unless it already ends
// with one, and "data".
QString data_folder_of(const QString& training_folder);

// The whole text of "classes.data" as a decimal number (blanks around it
// allowed); 0 when it is not a number; -1 when the file cannot be opened or is
// empty.
int read_class_count(const QString& path);

// The model name of the folder: the whole text of "data/version", or "V3" when
// that file cannot be opened or is empty.
QString read_model_text(const QString& training_folder);

// Whether `text` is a protected network description (it holds
// kProtectedSeparator).
bool is_protected_description(const QString& text);
// The clear text of a protected description: the head, a line feed and the
// deciphered body (the head ends with a line feed already, so an empty line
// separates the two).
QString deciphered_description(const QString& text);

// The executables of the ROS package, run through rosrun.
QString train_executable(bool gpu); // "rosrun nomu_lib_yolo darknet_" or "... darknet_cpu_"

// The command line as one text: executable, " detector train data/obj.data ",
// the description argument, a blank, the weights in double quotes followed by
// a blank (only when there are weights), then "  -dont_show ". With weights
// three blanks stand before "-dont_show"; without them too.
QString train_command(const QString& executable, const QString& description, const QString& weights);

// The same command as a program and its arguments: each part stays one
// argument whatever it holds (blanks or double quotes in a path), so the
// executable gets detector, train, data/obj.data, the description, the
// weights (when there are any) and -dont_show.
QStringList train_command_argv(const QString& executable, const QString& description, const QString& weights);
