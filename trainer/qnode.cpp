#include "qnode.h"

#include <ros/master.h>
#include <ros/node_handle.h>
#include <ros/init.h>

#include <map>

namespace nomu_pelto_varnex {

QNode::QNode(int argc, char** argv) : init_argc(argc), init_argv(argv)
{
    init();
    start(QThread::InheritPriority);
}

QNode::~QNode()
{
    if (ros::isStarted()) {
        ros::shutdown();
        ros::waitForShutdown();
    }
    wait();
}

bool QNode::init()
{
    ros::init(init_argc, init_argv, "nomu_pelto_varnex");
    if (!ros::master::check())
        return false;
    ros::start();
    ros::NodeHandle n;
    return true;
}

bool QNode::init(const std::string& master_url, const std::string& host_url)
{
    std::map<std::string, std::string> remappings;
    remappings["__master"] = master_url;
    remappings["__hostname"] = host_url;
    ros::init(remappings, "nomu_pelto_varnex");
    if (!ros::master::check())
        return false;
    ros::start();
    ros::NodeHandle n;
    return true;
}

void QNode::run()
{
    ros::spin();
}

} // namespace nomu_pelto_varnex
