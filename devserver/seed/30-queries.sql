-- Data for the user, setting and website queries: a user name with a single
-- quote, a setting whose name has one, a setting longer than the client's
-- buffer, and stored jobs whose payer and project the client sets.

INSERT INTO Users (UserID, UserName, UserFullName, PassWord, GroupID, PrintWay, AuditFlowID,
                   SecretLevel, IsDeleted, UserStatus, SpecialAudit) VALUES
    (104, 'o''neil', '欧尼尔', 'E10ADC3949BA59ABBE56E057F20F883E', 102, 2, 0, 1, 'N', 1, 0);

INSERT INTO SysSettings (SettingName, SettingValue) VALUES
    ('Owner''s Note', '由''行政部''维护'),
    ('PortalBanner', '欢迎使用文印管控系统。本系统对所有打印、复印和刻录作业进行审批与审计，' ||
                     '请按照保密规定选择正确的密级与用途，并选择对应的审批人。' ||
                     '如有疑问请联系信息中心，电话 8888-0000，或发送邮件至管理员。' ||
                     '下班前请取走打印好的文件，未取走的作业将在二十四小时后自动删除。' ||
                     '复印和刻录作业同样需要审批，审批通过后方可在指定设备上取件。' ||
                     '谢谢合作！');

INSERT INTO PrintProcTask (SPLFileName, UserName, UserID, DocName, PrinterName) VALUES
    ('20260101-0001.spl', 'wangwu', 3, '项目周报.pdf', '研发部彩色打印机'),
    ('20260101-0002.spl', 'lisi', 2, '报销单.pdf', '财务部激光打印机'),
    ('o''neil-0003.spl', 'o''neil', 104, '合同.pdf', '一楼复印机');

-- xiaoyin may use one printer whose name is three bytes in GB18030, so his
-- printer list is a short odd-sized answer.
INSERT INTO Printers (PrinterID, PrinterName) VALUES (101, '3楼');
INSERT INTO Users (UserID, UserName, UserFullName, PassWord, GroupID, PrintWay, AuditFlowID,
                   SecretLevel, IsDeleted, UserStatus, SpecialAudit) VALUES
    (114, 'xiaoyin', '肖音', 'E10ADC3949BA59ABBE56E057F20F883E', 102, 1, 0, 1, 'N', 1, 0);
INSERT INTO UserPrinters (UserID, PrinterID, Position) VALUES (114, 101, 1);
