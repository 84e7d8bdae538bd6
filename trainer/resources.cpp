#include "resources.h"

#include <QtGlobal>

#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void init_all()
{
    Q_INIT_RESOURCE(nomu_pelto_varnex);
    Q_INIT_RESOURCE(yolo_cfg);
}

void nomu_pelto_varnex_init_resources()
{
    static std::once_flag once;
    std::call_once(once, init_all);
}
