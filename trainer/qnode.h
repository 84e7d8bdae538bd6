#pragma once
// A ROS node thread for the trainer. Nothing in the program constructs it, so
// the trainer never initialises ROS; it is kept for builds that talk to a ROS
// master.

#include <QThread>

#include <string>

namespace nomu_pelto_varnex {

class QNode : public QThread {
    Q_OBJECT

public:
    // Keeps the arguments, runs init() and starts the thread whatever init()
    // gave.
    QNode(int argc, char** argv);
    ~QNode() override;

    // Initialises ROS from the arguments; false when no master answers.
    bool init();
    // The same with the master's URI and this host's name in place of the
    // arguments.
    bool init(const std::string& master_url, const std::string& host_url);

    void run() override;

private:
    int init_argc;
    char** init_argv;
};

} // namespace nomu_pelto_varnex
