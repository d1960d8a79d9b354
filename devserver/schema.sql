-- Database of the development server. Texts are UTF-8; the server converts
-- them to GB18030 where the client expects GBK. Flags are 'Y'/'N' texts as
-- the client's SQL compares them that way.

CREATE TABLE Groups (
    GroupID     INTEGER PRIMARY KEY,
    GroupName   TEXT    NOT NULL,
    AuditFlowID INTEGER NOT NULL DEFAULT 0
);

-- UserStatus: 0 not activated, 1 active, 2 locked, 3 password change period
-- passed. PassWord is the upper-case hexadecimal MD5 of the password.
-- SpecialAudit is what GetSpecialAuditOfUser answers.
CREATE TABLE Users (
    UserID       INTEGER PRIMARY KEY,
    UserName     TEXT    NOT NULL UNIQUE,
    UserFullName TEXT    NOT NULL DEFAULT '',
    PassWord     TEXT    NOT NULL DEFAULT '',
    GroupID      INTEGER NOT NULL DEFAULT 0,
    PrintWay     INTEGER NOT NULL DEFAULT 1,
    AuditFlowID  INTEGER NOT NULL DEFAULT 0,
    SecretLevel  INTEGER NOT NULL DEFAULT 0,
    IsDeleted    TEXT    NOT NULL DEFAULT 'N',
    UserStatus   INTEGER NOT NULL DEFAULT 1,
    SpecialAudit INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE SysSettings (
    SettingName  TEXT PRIMARY KEY,
    SettingValue TEXT NOT NULL DEFAULT ''
);

CREATE TABLE Servers (
    ServerID    INTEGER PRIMARY KEY,
    ServerIP    TEXT NOT NULL,
    WebsiteIP   TEXT NOT NULL DEFAULT '',
    IsMonitored TEXT NOT NULL DEFAULT 'N',
    IsDeleted   TEXT NOT NULL DEFAULT 'N'
);

-- Secret levels (document levels) known to the audit flows.
CREATE TABLE SysSettingsAudit (
    LevelID         INTEGER PRIMARY KEY,
    SecretLevel     INTEGER NOT NULL,
    SecretLevelName TEXT    NOT NULL,
    SecretLevelNote TEXT    NOT NULL DEFAULT ''
);

-- One row per secret level of a flow; rows come back in FlowItemID order.
CREATE TABLE AuditFlowItems (
    FlowItemID INTEGER PRIMARY KEY,
    FlowID     INTEGER NOT NULL,
    DocLevelID INTEGER NOT NULL,
    AuditLevel INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE AuditFlowAuditors (
    RowID           INTEGER PRIMARY KEY,
    AuditorID       INTEGER NOT NULL,
    AuditLevelIndex INTEGER NOT NULL,
    FlowItemID      INTEGER NOT NULL
);

-- The secret level table of GetUserInfoEx for one user, in Position order.
-- A user without rows gets the levels of his audit flow (his own, else his
-- group's) in FlowItemID order, and without a flow every row of
-- SysSettingsAudit by SecretLevel.
CREATE TABLE UserSecretLevels (
    UserID          INTEGER NOT NULL,
    Position        INTEGER NOT NULL,
    SecretLevelName TEXT    NOT NULL,
    SecretLevelNote TEXT    NOT NULL DEFAULT '',
    PRIMARY KEY (UserID, Position)
);

-- Printers, and the printers each user may use (GetPrinterList answers the
-- total count of Printers and the user's names in Position order).
CREATE TABLE Printers (
    PrinterID   INTEGER PRIMARY KEY,
    PrinterName TEXT NOT NULL UNIQUE
);

CREATE TABLE UserPrinters (
    UserID    INTEGER NOT NULL,
    PrinterID INTEGER NOT NULL,
    Position  INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY (UserID, PrinterID)
);

-- Payer (cost control / project) settings per user for GetPayerInfo. A user
-- without a row has no cost control, no project billing and PayerType 1.
CREATE TABLE PayerSettings (
    UserID               INTEGER PRIMARY KEY,
    IsSupportCostControl INTEGER NOT NULL DEFAULT 0,
    IsSupportProject     INTEGER NOT NULL DEFAULT 0,
    PayerType            INTEGER NOT NULL DEFAULT 1
);

CREATE TABLE Payers (
    PayerID   INTEGER PRIMARY KEY,
    PayerName TEXT    NOT NULL,
    IsGroup   INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE UserPayers (
    UserID   INTEGER NOT NULL,
    PayerID  INTEGER NOT NULL,
    Position INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY (UserID, PayerID)
);

-- Quota balances by the payer type and identifier that the client sends.
-- Amounts in fen (0.01 yuan); a job costs TotalPages times the page price
-- (ColorPagePrice for colour "C").
CREATE TABLE QuotaBalances (
    PayerType      INTEGER NOT NULL,
    PayerID        INTEGER NOT NULL,
    Balance        INTEGER NOT NULL DEFAULT 0,
    PagePrice      INTEGER NOT NULL DEFAULT 10,
    ColorPagePrice INTEGER NOT NULL DEFAULT 50,
    PRIMARY KEY (PayerType, PayerID)
);

-- Notices for GetUserMessage: FieldText is "job|printer|result|audit".
CREATE TABLE Notices (
    NoticeID  INTEGER PRIMARY KEY AUTOINCREMENT,
    UserName  TEXT    NOT NULL,
    Type      INTEGER NOT NULL,
    FieldText TEXT    NOT NULL DEFAULT '',
    Delivered INTEGER NOT NULL DEFAULT 0,
    CreatedAt TEXT    NOT NULL DEFAULT CURRENT_TIMESTAMP
);
CREATE INDEX NoticesByUser ON Notices (UserName, Delivered, NoticeID);

-- One row per received job. Kind: print, mobile, cd, copy. The files live
-- in the storage folder under StoredName/.
CREATE TABLE Uploads (
    UploadID     INTEGER PRIMARY KEY AUTOINCREMENT,
    StoredName   TEXT    NOT NULL UNIQUE,
    Kind         TEXT    NOT NULL,
    UserName     TEXT    NOT NULL DEFAULT '',
    DocName      TEXT    NOT NULL DEFAULT '',
    RecordPath   TEXT    NOT NULL DEFAULT '',
    DataPath     TEXT    NOT NULL DEFAULT '',
    AppendixPath TEXT    NOT NULL DEFAULT '',
    Bytes        INTEGER NOT NULL DEFAULT 0,
    Blocks       INTEGER NOT NULL DEFAULT 0,
    Finished     INTEGER NOT NULL DEFAULT 0,
    CreatedAt    TEXT    NOT NULL DEFAULT CURRENT_TIMESTAMP
);

-- Print jobs held for approval and release.
CREATE TABLE PrintProcTask (
    TaskID       INTEGER PRIMARY KEY AUTOINCREMENT,
    SPLFileName  TEXT    NOT NULL UNIQUE,
    UserName     TEXT    NOT NULL DEFAULT '',
    UserID       INTEGER NOT NULL DEFAULT 0,
    DocName      TEXT    NOT NULL DEFAULT '',
    PrinterName  TEXT    NOT NULL DEFAULT '',
    SecretLevel  TEXT    NOT NULL DEFAULT '',
    Purpose      TEXT    NOT NULL DEFAULT '',
    AuditorCount INTEGER NOT NULL DEFAULT 0,
    AuditorIDs   TEXT    NOT NULL DEFAULT '',
    PageCount    INTEGER NOT NULL DEFAULT 0,
    Copies       INTEGER NOT NULL DEFAULT 0,
    ColorMode    TEXT    NOT NULL DEFAULT '',
    DuplexMode   TEXT    NOT NULL DEFAULT '',
    PaperSize    TEXT    NOT NULL DEFAULT '',
    JobState     INTEGER NOT NULL DEFAULT 0,
    PayerID      INTEGER NOT NULL DEFAULT 0,
    PayerType    INTEGER NOT NULL DEFAULT 0,
    ProjectID    INTEGER NOT NULL DEFAULT 0,
    Bytes        INTEGER NOT NULL DEFAULT 0,
    SubmittedAt  TEXT    NOT NULL DEFAULT CURRENT_TIMESTAMP
);
