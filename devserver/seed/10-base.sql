-- Base seed data: groups, users in every logon state, settings, servers,
-- secret levels with two audit flows, printers, payers, quotas, notices.
-- Passwords are upper-case MD5: E10ADC39... is "123456",
-- 2B900BF8... is "wangwu888".

INSERT INTO Groups (GroupID, GroupName, AuditFlowID) VALUES
    (1, '研发部', 1),
    (2, '财务部', 2),
    (3, '行政部', 0);

INSERT INTO Users (UserID, UserName, UserFullName, PassWord, GroupID, PrintWay, AuditFlowID,
                   SecretLevel, IsDeleted, UserStatus, SpecialAudit) VALUES
    (1,  'zhangsan',  '张三',   'E10ADC3949BA59ABBE56E057F20F883E', 1, 1, 0, 3, 'N', 1, 0),
    (2,  'lisi',      '李四',   'E10ADC3949BA59ABBE56E057F20F883E', 2, 2, 1, 2, 'N', 1, 1),
    (3,  'wangwu',    '王五',   '2B900BF84F918A3B55999C27E1AA0A61', 1, 1, 0, 2, 'N', 1, 0),
    (4,  'zhaoliu',   '赵六',   'E10ADC3949BA59ABBE56E057F20F883E', 1, 1, 0, 4, 'N', 1, 0),
    (5,  'sunqi',     '孙七',   'E10ADC3949BA59ABBE56E057F20F883E', 3, 1, 0, 1, 'N', 1, 0),
    (6,  'zhouba',    '周八',   'E10ADC3949BA59ABBE56E057F20F883E', 3, 1, 0, 1, 'N', 0, 0),
    (7,  'wujiu',     '吴九',   'E10ADC3949BA59ABBE56E057F20F883E', 3, 1, 0, 1, 'N', 2, 0),
    (8,  'zhengshi',  '郑十',   'E10ADC3949BA59ABBE56E057F20F883E', 3, 1, 0, 1, 'N', 3, 0),
    (9,  'chenyi',    '陈一',   'E10ADC3949BA59ABBE56E057F20F883E', 3, 1, 0, 1, 'Y', 1, 0),
    (10, 'qianshen',  '钱审批', 'E10ADC3949BA59ABBE56E057F20F883E', 3, 1, 0, 4, 'N', 1, 0),
    (11, 'fengzhuren', '冯主任', 'E10ADC3949BA59ABBE56E057F20F883E', 3, 1, 0, 4, 'N', 1, 0),
    (12, 'liujingli', '刘经理', 'E10ADC3949BA59ABBE56E057F20F883E', 2, 1, 0, 4, 'N', 1, 0),
    (13, 'huangtui',  '黄退休', 'E10ADC3949BA59ABBE56E057F20F883E', 3, 1, 0, 1, 'N', 0, 0);

INSERT INTO SysSettings (SettingName, SettingValue) VALUES
    ('LinuxPrintStateNew', '20'),
    ('CompanyName', '星河科技有限公司');

INSERT INTO Servers (ServerID, ServerIP, WebsiteIP, IsMonitored, IsDeleted) VALUES
    (1, '127.0.0.1', '127.0.0.1:8080', 'Y', 'N'),
    (2, '192.168.10.20', '192.168.10.21', 'N', 'N'),
    (3, '192.168.10.30', '192.168.10.31', 'Y', 'Y');

INSERT INTO SysSettingsAudit (LevelID, SecretLevel, SecretLevelName, SecretLevelNote) VALUES
    (1, 1, '公开', '可对外公开'),
    (2, 2, '内部', '仅限内部使用'),
    (3, 3, '秘密', '秘密级文件'),
    (4, 4, '机密', '机密级文件');

-- Flow 1 (group 研发部): one item per secret level, 0 to 3 approval levels.
-- Flow 2 (lisi's own, group 财务部): two items.
INSERT INTO AuditFlowItems (FlowItemID, FlowID, DocLevelID, AuditLevel) VALUES
    (1, 1, 1, 0),
    (2, 1, 2, 1),
    (3, 1, 3, 2),
    (4, 1, 4, 3),
    (5, 2, 1, 0),
    (6, 2, 2, 1);

INSERT INTO AuditFlowAuditors (AuditorID, AuditLevelIndex, FlowItemID) VALUES
    (10, 1, 2),
    (11, 1, 2),
    (10, 1, 3),
    (1,  1, 3),
    (12, 2, 3),
    (10, 1, 4),
    (11, 2, 4),
    (12, 3, 4),
    (13, 3, 4),
    (11, 1, 6),
    (12, 1, 6);

-- wangwu has his own two-entry secret level table; everybody else gets the
-- rows of SysSettingsAudit.
INSERT INTO UserSecretLevels (UserID, Position, SecretLevelName, SecretLevelNote) VALUES
    (3, 1, '公开', ''),
    (3, 2, '内部', '项目内部');

INSERT INTO Printers (PrinterID, PrinterName) VALUES
    (1, '研发部彩色打印机'),
    (2, '财务部激光打印机'),
    (3, '一楼复印机'),
    (4, '会议室打印机');

-- zhangsan: three of four; lisi (print way 2): two; wangwu: all four (the
-- list is then card-swipe only); sunqi: none.
INSERT INTO UserPrinters (UserID, PrinterID, Position) VALUES
    (1, 1, 1), (1, 3, 2), (1, 4, 3),
    (2, 2, 1), (2, 3, 2),
    (3, 1, 1), (3, 2, 2), (3, 3, 3), (3, 4, 4),
    (4, 1, 1), (4, 3, 2),
    (10, 1, 1), (11, 1, 1), (12, 2, 1);

-- lisi: cost control, payer type 1 (own account). wangwu: project billing
-- (type 4). zhaoliu: cost control with type 6 (group or personal payer).
INSERT INTO PayerSettings (UserID, IsSupportCostControl, IsSupportProject, PayerType) VALUES
    (2, 1, 0, 1),
    (3, 0, 1, 4),
    (4, 1, 0, 6);

INSERT INTO Payers (PayerID, PayerName, IsGroup) VALUES
    (2,   '李四个人账户', 0),
    (101, '星辰项目', 0),
    (102, '海洋项目', 0),
    (201, '研发部公用', 1),
    (202, '赵六个人账户', 0);

INSERT INTO UserPayers (UserID, PayerID, Position) VALUES
    (2, 2, 1),
    (3, 101, 1), (3, 102, 2),
    (4, 201, 1), (4, 202, 2);

-- Balances in fen. Payer (4, 202) holds 1 yuan: 10 black-and-white pages at
-- 0.10 yuan pass, 11 are refused.
INSERT INTO QuotaBalances (PayerType, PayerID, Balance, PagePrice, ColorPagePrice) VALUES
    (1, 2,   100000, 10, 50),
    (2, 201, 50000,  10, 50),
    (4, 202, 100,    10, 50),
    (4, 101, 100000, 10, 50),
    (4, 102, 200,    10, 50);

INSERT INTO Notices (UserName, Type, FieldText) VALUES
    ('zhangsan', 0,   '季度报告.pdf|研发部彩色打印机|0|0'),
    ('zhangsan', 2,   '合同草案.pdf|研发部彩色打印机|0|0'),
    ('zhangsan', 512, '会议纪要.pdf|一楼复印机|0|0'),
    ('lisi',     2,   '报销单.pdf|财务部激光打印机|0|1');
