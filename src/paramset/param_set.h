#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device/value.h"

namespace tunavox {

// One register of a parameter set: its value as read, or the read's error.
struct TParamEntry {
    uint16_t Addr = 0;
    uint8_t Type = rtStr;
    bool Failed = false;
    TValue Value;      // null when Failed
    std::string Shown; // the value as the table showed it, or the error in words
    std::string Name;  // name with units, for the reader only
};

// One line of a set file as it was read, so that what the program does not change is
// written back byte for byte.
struct TSetSourceLine {
    enum class Kind : uint8_t { Other, Key, Entry, End };
    Kind What = Kind::Other;
    std::string Raw;   // the line as read, without its LF (a CR before it kept)
    std::string Key;   // Key: the header key
    uint16_t Addr = 0; // Entry: the register's code
    std::string Norm;  // Key and Entry: the line as the program writes what was read
};

// What a file was when it was read: a later save checks that nobody replaced it since.
struct TFileStamp {
    bool Known = false;
    std::string Path;
    uint64_t Size = 0;
    int64_t Time = 0; // modification time, in the file system's own units
    std::string Digest;
};

// A device's settings saved to a file, with what they were saved from.
struct TParamSet {
    std::string Device;          // the description's device name
    std::string DescriptionFile; // its file name
    std::string Sign;            // its signature digest
    uint32_t DeviceId = 0;
    uint8_t Protocol = 1; // 0: 1.0, else 2.0
    std::string Saved;    // local date and time of the backup
    std::string Program;  // program version
    std::string Edited;   // when it was last changed by hand in the program, if it was
    // The description's factory values, not a file: no value is "нет заводского значения".
    bool Factory = false;
    std::vector<TParamEntry> Entries;
    // Read from a file: its lines (comments, spacing and rows kept as they were), its line
    // ends and byte order mark, and what the file was.
    std::vector<TSetSourceLine> Source;
    bool Crlf = false;
    bool Bom = false;
    TFileStamp Stamp;

    int FailedCount() const;
};

// The program version written into sets.
std::string ProgramVersion();

// The file's text (UTF-8, LF line ends). A set read from a file keeps that file's
// comments and every line whose content did not change, byte for byte.
std::string FormatParamSet(const TParamSet& set);
// Parses a whole file; any malformed, truncated or foreign text, a code given twice and
// a Str value no device can take are refused with a message naming the line (and the
// file, when named), and set is left empty. A leading UTF-8 byte order mark is skipped.
bool ParseParamSet(std::string_view text, TParamSet& set, std::string& error,
                   std::string_view fileName = {});

// Writes atomically (see ReplaceFileBytes): a new file readable by the owner only, an
// existing one keeps its mode; a read-only file is refused. The messages name the file.
// When the set was read from path and the file has been replaced or changed since
// (size, time or content), nothing is written: false with *changedOnDisk set (a caller
// that means to overwrite clears set.Stamp first). After a write the set's source lines
// and stamp are the new file's.
bool WriteParamSetFile(const std::string& path, TParamSet& set, std::string& error,
                       bool* changedOnDisk = nullptr);
// The same for a set that is not kept afterwards.
bool WriteParamSetFile(const std::string& path, const TParamSet& set, std::string& error);
bool ReadParamSetFile(const std::string& path, TParamSet& set, std::string& error);
// The same for any file the program keeps (a site file): bytes take path's place unless
// the file was read (stamp known for that path) and has changed since; stamp is then the
// new file's. Messages as WriteParamSetFile's.
bool ReplaceStampedFile(const std::string& path, const std::string& bytes, TFileStamp& stamp,
                        std::string& error, bool* changedOnDisk = nullptr);
// Reads a whole file with its stamp; the message names the file.
bool ReadStampedFile(const std::string& path, std::string& bytes, TFileStamp& stamp,
                     std::string& error);
// The file's stamp as it stands (Known false when it cannot be read).
TFileStamp FileStampOf(const std::string& path);

// Whether a backup may go to path, asked before the device is read: never a
// description file (the loaded one, or any Nastr*.xml), a folder or a place where
// no file can be written.
bool CheckParamSetTarget(const std::string& path, const std::string& descriptionPath,
                         std::string& error);

// The value's text in a set file: integers in decimal, Float as the hex bits of its
// single-precision value, Str quoted with escapes. False when the value does not fit
// the type.
bool ValueFieldText(const TValue& value, uint8_t type, std::string& out);
// Why a value cannot be kept in a set and written to a device (a Str value outside
// Windows-1251 or longer than a write request carries, a value that does not fit the
// type); empty when it can.
std::string SetValueProblem(const TValue& value, uint8_t type);
// The set file of a device in a folder of sets: its name and ID, as a file name
// ("БУК-2_(контроллер_котельной)_ID17.params").
std::string DeviceSetName(const std::string& deviceName, uint32_t id);
bool ParseValueField(std::string_view text, uint8_t type, TValue& out);

} // namespace tunavox
