#include "server_start.h"

#include "exchange_check.h"
#include "exchange_paths.h"
#include "server_lock.h"

namespace sarvik_server {

namespace {

const char* const kProgram = "sarvik_server";

// The command file is removed after every command; the log and the result
// image are replaced; the marker is rewritten in place where possible.
QStringList replaced_files()
{
    return {sarvik_paths::kCommandFile, sarvik_paths::kLogFile, sarvik_paths::kResultImage};
}

QStringList rewritten_files()
{
    return {sarvik_paths::kRunMarker};
}

QStringList among(const QStringList& files, const QStringList& wanted)
{
    QStringList kept;
    for (const QString& file : files)
        if (wanted.contains(file))
            kept << file;
    return kept;
}

} // namespace

bool ready_to_serve()
{
    if (!take_server_lock())
        return false;
    return exchange_check::report_unreplaceable(kProgram, replaced_files(), rewritten_files());
}

bool can_still_answer(const QStringList& unplaced)
{
    return exchange_check::report_unreplaceable(kProgram, among(replaced_files(), unplaced),
                                                among(rewritten_files(), unplaced));
}

} // namespace sarvik_server
