#include "exchange_files.h"

#include "exchange_check.h"

namespace trainer_exchange {

bool ready()
{
    return exchange_check::report_unreplaceable("nomu_pelto_varnex", {kStatusLog, kStopFile});
}

} // namespace trainer_exchange
