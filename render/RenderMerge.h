#pragma once

#include "render/ExitStatus.h"
#include "render/RenderOptions.h"

/**
    --merge-reports OUT IN...: joins the JSON reports of a batch's shards (or of whole batches
    made with the same settings) into one report, as one run over all their files would have
    written it: the files in the batch's order, the summary worked out again. Reports of different
    settings or programs, shards of different batches, a shard given twice or missing, and reports
    that share an input or an output are refused. The exit status is the merged batch's (as the
    batch form gives it), or 2 for reports that do not belong together, 1 for one that cannot be
    read or a report that cannot be written.
*/
class RenderMerge
{
public:
    explicit RenderMerge (const RenderOptions& options);

    ExitStatus run();

private:
    const RenderOptions& options;
};
