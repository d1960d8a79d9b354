#pragma once

#include <QString>
#include <QStringList>

// What the print settings dialog remembers of the user's last confirmed
// job, per server and user: the printer (or the card-swipe entry), the
// purpose, the auditor chosen at each approval level and the project. The
// secret level is not among them: the user chooses it for each document.
struct RememberedChoice {
    QString Printer;             // the printer entry's text; empty: none remembered
    QString Purpose;             // the purpose entry's text
    int Auditors[3] = {0, 0, 0}; // auditor identifier per approval level; 0: none
    int ProjectId = 0;           // the payer identifier of the project
    bool HasProject = false;

    bool isEmpty() const
    {
        return Printer.isEmpty() && Purpose.isEmpty() && !HasProject && Auditors[0] == 0 &&
               Auditors[1] == 0 && Auditors[2] == 0;
    }
};

// The remembered choices of every server and user on this account, kept in
// "choices.json" of the user's configuration folder (created owner-only,
// the file 0600). Written only when the user confirms a job; a file that
// cannot be read, is not ours or does not parse counts as nothing
// remembered and is replaced at the next confirmation.
class ChoiceMemory
{
public:
    static constexpr const char* kFileName = "choices.json";
    // Entries kept at most (the most recently confirmed).
    static constexpr int kMostEntries = 64;

    // folder empty: SystemPaths::configFolder().
    explicit ChoiceMemory(const QString& folder = QString());

    RememberedChoice recall(const QString& server, const QString& user) const;
    // false when the folder or the file could not be written.
    bool remember(const QString& server, const QString& user, const RememberedChoice& choice);

    QString folder() const { return Folder; }

private:
    QString Folder;
};

// The index of the entry whose text is remembered, else fallback.
int PreferredIndex(const QStringList& items, const QString& remembered, int fallback);
