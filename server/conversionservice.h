#pragma once
// What unplotd does, apart from HTTP: checks an upload and queues it, answers where a job stands, finds a result
// archive, and deletes expired jobs. The routes translate between HTTP and these calls.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "config.h"
#include "datafolderlock.h"
#include "datapaths.h"
#include "engine.h"
#include "jobqueue.h"
#include "jobstore.h"
#include "replies.h"
#include "uploadreceiver.h"

namespace unplot::server {

class ConversionService {
public:
    // Creates the data folder, opens the job store and recovers the jobs of a service that stopped while
    // converting. Throws on a data folder or database that cannot be used.
    explicit ConversionService(const ServerConfig& config);
    ~ConversionService();

    void startWorkers();
    void stopWorkers();

    // An upload begins: its PDF is streamed into the uploads folder as it arrives.
    std::unique_ptr<UploadReceiver> receiveUpload();
    // Checks everything that can be checked at once (what the receiver found, the form, type, version, page list
    // against the document's page count, that the engine can open the PDF, room in the queue) and queues the job.
    Reply upload(UploadReceiver& upload);
    // A request that says it is larger than an upload may be is refused before it is read.
    std::optional<Reply> refuseOversized(std::uint64_t contentLength);
    // {"num","status","result"} for a known id; {"num":-2} for anything else.
    Reply queueState(std::string_view id);
    // The archive for a download path's last part ("<id>.zip"), when that names an existing result.
    std::optional<Archive> archive(std::string_view fileName);
    // Deletes the jobs that ended more than the keep time before `now`, with their files; also stray files.
    void sweep(std::int64_t now);

private:
    Reply refuse(Refusal reason, const std::string& message, const std::string& logNote = {});
    std::string tooLargeMessage() const;

    ServerConfig config_;
    DataFolderLock lock_;
    DataPaths paths_;
    std::unique_ptr<JobStore> store_;
    Engine engine_;
    JobQueue queue_;
};

}  // namespace unplot::server
