#pragma once

#include <QByteArray>
#include <cstddef>

// One private temporary file of an upload. The name is made unique from a
// pattern (mkstemp: created exclusively, owner-only, never through a link
// someone else planted), the content is written once, and the file is
// removed when the object goes away, however the upload ends. Nothing of
// the name travels to the server: attachments go under generated ids.
class UploadFile
{
public:
    // folder: where the file is made (empty: the working folder). The name
    // is prefix, six unique characters and suffix.
    UploadFile(const QByteArray& folder, const char* prefix, const char* suffix);
    ~UploadFile();
    UploadFile(const UploadFile&) = delete;
    UploadFile& operator=(const UploadFile&) = delete;

    // False when the file could not be made or not be written whole.
    bool ok() const { return m_ok; }
    // Writes all size bytes and closes the file. False on failure.
    bool write(const void* data, size_t size);
    // Makes the file hold exactly these size bytes and keeps it open for the
    // next rewrite (the blocks of one upload reuse their files: rewriting a
    // file costs less than making and removing one per block). False on
    // failure.
    bool rewrite(const void* data, size_t size);
    // Absolute path, for the attachment's __ptr; empty when not made.
    char* path() { return m_path.data(); }

private:
    QByteArray m_path;
    int m_fd = -1;
    bool m_ok = false;
    size_t m_size = 0; // what the file holds
};
