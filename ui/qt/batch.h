#pragma once

#include "filelist.h"
#include "run.h"

namespace vellork {

// "Start Compression >" for the Qt window: the toolkit-free CompressRun over the model's list,
// with figures written in the user's decimal separator. The window is its CompressHost.
class CompressionBatch {
public:
    CompressionBatch(FileListModel& list, CompressHost& host);

    // The button's click. Does nothing while a batch is already running.
    void start();
    bool running() const { return run_.running(); }

private:
    CompressRun run_;
};

}  // namespace vellork
