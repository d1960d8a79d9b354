#pragma once

#include "ReadinessCheck.h"

#include <QString>
#include <QStringList>
#include <QVector>

// The text "复制诊断信息" puts on the clipboard for support staff: the
// client's version, the server it talks to, where its log goes, and the
// lines of "OrixClientAPP --check". Never the password or its digest: every
// occurrence of a secret given is blanked out, whatever line it is in.
struct DiagnosticsReport {
    QString Version;
    QString Server; // "host:port", or empty when none is known
    QString LogPath;
    QVector<ReadinessCheck::Item> Items;

    QString text(const QStringList& secrets) const;

    // The report of this workstation now: runs the readiness check (it may
    // wait on the network and CUPS: not on the GUI thread).
    static DiagnosticsReport collect(const QString& server);
};
