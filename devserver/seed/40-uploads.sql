-- Uploads and submission: 陈小明 is a user whose logon name is Chinese, so
-- that it travels in the client's string mode (UTF-8 on port 8085, Latin-1
-- bytes elsewhere); cost control with payer type 6 and Chinese payer names.

INSERT INTO Users (UserID, UserName, UserFullName, PassWord, GroupID, PrintWay, AuditFlowID,
                   SecretLevel, IsDeleted, UserStatus, SpecialAudit) VALUES
    (201, '陈小明', '陈小明', 'E10ADC3949BA59ABBE56E057F20F883E', 1, 1, 0, 2, 'N', 1, 0);

INSERT INTO UserPrinters (UserID, PrinterID, Position) VALUES (201, 1, 1);

INSERT INTO PayerSettings (UserID, IsSupportCostControl, IsSupportProject, PayerType) VALUES
    (201, 1, 0, 6);

INSERT INTO Payers (PayerID, PayerName, IsGroup) VALUES
    (301, '研发部测试组', 1),
    (302, '陈小明个人账户', 0);

INSERT INTO UserPayers (UserID, PayerID, Position) VALUES
    (201, 301, 1), (201, 302, 2);

INSERT INTO QuotaBalances (PayerType, PayerID, Balance, PagePrice, ColorPagePrice) VALUES
    (2, 301, 100000, 10, 50),
    (4, 302, 100000, 10, 50);
