#pragma once

#include <cstddef>
#include <string>

// The folder where the server keeps received jobs: one sub-folder per job,
// named after the job's stored name.
class DevStorage
{
public:
    // Creates the folder (and its parents) when missing.
    bool init(const std::string& dir, std::string* error);
    const std::string& dir() const { return m_dir; }

    // Makes a new job folder and returns its stored name: the prefix, the
    // date and time and a sequence number, ".spl" (letters, digits and dots
    // only, so the name is safe in a path and in quoted SQL). Empty when no
    // folder could be made.
    std::string createJob(char prefix);

    // Stored names come back from clients; only names of the form above are
    // accepted.
    static bool isValidName(const std::string& name);

    // The place of a job's file: from the stored name (checked with
    // isValidName), never from a path kept in the database.
    std::string jobPath(const std::string& name, const std::string& file) const
    {
        return m_dir + "/" + name + "/" + file;
    }

    // Writes (or appends) size bytes to path, never through a link. False on
    // any failure.
    static bool writeFile(const std::string& path, const void* data, size_t size, bool append);

private:
    std::string m_dir;
    unsigned m_sequence = 0;
};
