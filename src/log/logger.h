#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "util/os_file.h"
#include "util/program_folder.h"

namespace tunavox {

// The exchange log: one open text file, lines with millisecond time stamps.
class ICommonLogger {
public:
    virtual ~ICommonLogger() = default;
    virtual bool GetActive() const = 0;
    virtual void SetActive(bool active) = 0;
    virtual std::string GetLogDir() const = 0;
    virtual void SetLogDir(const std::string& path) = 0;
    virtual std::string GetPrefix() const = 0;
    virtual void SetPrefix(const std::string& prefix) = 0;
    virtual bool GetFullDate() const = 0;
    virtual void SetFullDate(bool fullDate) = 0;
    virtual int32_t GetMaxFileSize() const = 0;
    virtual void SetMaxFileSize(int32_t bytes) = 0;
    virtual bool GetShowLength() const = 0;
    virtual void SetShowLength(bool show) = 0;
    virtual std::string GetFileName() const = 0;
    virtual void SetFileName(const std::string& path) = 0;
    virtual bool NewFile() = 0;
    virtual bool IsFileOpen() const = 0;
    virtual void CloseFile() = 0;
    virtual void WriteRaw(std::string_view text) = 0;
    virtual void LogData(std::string_view bytes, bool outgoing, const std::string& tag = {}) = 0;
    virtual void LogMarked(std::string_view bytes, const std::string& marker,
                           const std::string& tag = {}) = 0;
    virtual void LogBuffer(const void* data, size_t count, bool outgoing,
                           const std::string& tag = {}) = 0;
    virtual void LogText(const std::string& text, bool stamped, const std::string& tag = {}) = 0;
    // Formats with "%s" and "%d" taking the arguments in turn and "%%" a percent sign; a
    // format that does not fit its arguments is written as it stands.
    virtual void LogFormat(const std::string& format, const std::vector<std::string>& args,
                           bool stamped, const std::string& tag = {}) = 0;
};

class TCommonLogger : public ICommonLogger {
public:
    // Called after each file the logger opens, with its full path.
    using FileOpened = std::function<void(TCommonLogger&, const std::string&)>;

    TCommonLogger(const std::string& folder, const std::string& prefix, bool active);
    ~TCommonLogger() override;
    TCommonLogger(const TCommonLogger&) = delete;
    TCommonLogger& operator=(const TCommonLogger&) = delete;

    bool GetActive() const override { return active_; }
    void SetActive(bool active) override;
    std::string GetLogDir() const override { return logDir_; }
    // Empty: the root folder. An absolute path (or one with a drive or share) is kept;
    // any other is taken inside the program's folder, one leading "\" dropped.
    void SetLogDir(const std::string& path) override;
    std::string GetPrefix() const override { return prefix_; }
    void SetPrefix(const std::string& prefix) override { prefix_ = prefix; }
    bool GetFullDate() const override { return fullDate_; }
    void SetFullDate(bool fullDate) override { fullDate_ = fullDate; }
    int32_t GetMaxFileSize() const override { return maxFileSize_; }
    void SetMaxFileSize(int32_t bytes) override { maxFileSize_ = bytes; }
    bool GetShowLength() const override { return showLength_; }
    void SetShowLength(bool show) override { showLength_ = show; }
    std::string GetFileName() const override { return fileName_; }
    void SetFileName(const std::string& path) override;
    bool NewFile() override;
    bool IsFileOpen() const override { return file_.IsOpen(); }
    void CloseFile() override;
    void WriteRaw(std::string_view text) override;
    void LogData(std::string_view bytes, bool outgoing, const std::string& tag = {}) override;
    void LogMarked(std::string_view bytes, const std::string& marker,
                   const std::string& tag = {}) override;
    void LogBuffer(const void* data, size_t count, bool outgoing,
                   const std::string& tag = {}) override;
    void LogText(const std::string& text, bool stamped, const std::string& tag = {}) override;
    void LogFormat(const std::string& format, const std::vector<std::string>& args, bool stamped,
                   const std::string& tag = {}) override;

    FileOpened OnFileOpened;
    // Folder that relative log folders are taken from; the program's folder by default.
    // When it cannot be written, the same relative folder under userFolder is used (the
    // user's data folder by default).
    void SetBaseFolder(const std::string& folder,
                       const std::string& userFolder = UserDataFolder()) {
        baseFolder_ = folder;
        userFolder_ = userFolder;
    }

private:
    std::string Stamp() const;
    std::string LengthField(size_t count) const;

    TOsFile file_;
    std::string logDir_;
    std::string prefix_;
    bool active_;
    bool fullDate_ = false;
    int32_t maxFileSize_ = 0;
    uint64_t written_ = 0; // past 2 GiB too
    std::string fileName_;
    std::string extension_ = ".txt";
    bool showLength_ = false;
    std::string baseFolder_;
    std::string userFolder_;
};

// The process-wide logger: folder Logs beside the program, prefix "dbg_", active.
// Created on first use; its file is closed when the last reference goes at exit.
std::shared_ptr<ICommonLogger> GetLogger();

} // namespace tunavox
