-- Audit flow data: users with their own flow, with their group's flow and
-- with none; a flow of four secret levels with one, two, three and no
-- approval levels; a flow whose first item has a negative level count;
-- auditor lists that name the loading user himself, an inactive and a
-- deleted auditor.

INSERT INTO Groups (GroupID, GroupName, AuditFlowID) VALUES
    (101, '市场部', 105),
    (102, '后勤部', 0);

-- gaofeng: own flow 103 although his group has 105. luoxia: no flow of her
-- own, falls back to her group's 105. tangjie: neither he nor his group has
-- one. sutong: level 4, all four items of flow 103. hanxue: level 0, offered
-- nothing. jiangtao: listed among the auditors of his own flow. yuanbo: flow
-- 104 (first item with a negative level count). xuming .. penghui: auditors;
-- lvfang is not activated, caijun is deleted.
INSERT INTO Users (UserID, UserName, UserFullName, PassWord, GroupID, PrintWay, AuditFlowID,
                   SecretLevel, IsDeleted, UserStatus, SpecialAudit) VALUES
    (101, 'gaofeng',  '高峰', 'E10ADC3949BA59ABBE56E057F20F883E', 101, 1, 103, 2, 'N', 1, 0),
    (102, 'luoxia',   '罗霞', 'E10ADC3949BA59ABBE56E057F20F883E', 101, 1, 0,   4, 'N', 1, 0),
    (103, 'tangjie',  '唐杰', 'E10ADC3949BA59ABBE56E057F20F883E', 102, 1, 0,   2, 'N', 1, 0),
    (105, 'sutong',   '苏彤', 'E10ADC3949BA59ABBE56E057F20F883E', 102, 1, 103, 4, 'N', 1, 0),
    (106, 'hanxue',   '韩雪', 'E10ADC3949BA59ABBE56E057F20F883E', 102, 1, 103, 0, 'N', 1, 0),
    (107, 'xuming',   '徐明', 'E10ADC3949BA59ABBE56E057F20F883E', 102, 1, 0,   4, 'N', 1, 0),
    (108, 'lvfang',   '吕芳', 'E10ADC3949BA59ABBE56E057F20F883E', 102, 1, 0,   4, 'N', 0, 0),
    (109, 'caijun',   '蔡军', 'E10ADC3949BA59ABBE56E057F20F883E', 102, 1, 0,   4, 'Y', 1, 0),
    (110, 'dengli',   '邓丽', 'E10ADC3949BA59ABBE56E057F20F883E', 102, 1, 0,   4, 'N', 1, 0),
    (111, 'penghui',  '彭辉', 'E10ADC3949BA59ABBE56E057F20F883E', 102, 1, 0,   4, 'N', 1, 0),
    (112, 'jiangtao', '蒋涛', 'E10ADC3949BA59ABBE56E057F20F883E', 102, 1, 103, 2, 'N', 1, 0),
    (113, 'yuanbo',   '袁博', 'E10ADC3949BA59ABBE56E057F20F883E', 102, 1, 104, 2, 'N', 1, 0);

INSERT INTO SysSettingsAudit (LevelID, SecretLevel, SecretLevelName, SecretLevelNote) VALUES
    (101, 1, '非密', '无需审批'),
    (102, 2, '内部资料', '部门内部'),
    (103, 3, '商业秘密', '两级审批'),
    (104, 4, '核心机密', '不需要审批人');

-- Flow 103: approval levels 1, 2, 3 and 0, in this row order.
-- Flow 104: a broken item (-1 levels) before a good one.
-- Flow 105: the group flow of 市场部.
INSERT INTO AuditFlowItems (FlowItemID, FlowID, DocLevelID, AuditLevel) VALUES
    (1031, 103, 101, 1),
    (1032, 103, 102, 2),
    (1033, 103, 103, 3),
    (1034, 103, 104, 0),
    (1041, 104, 101, -1),
    (1042, 104, 102, 1),
    (1051, 105, 101, 1),
    (1052, 105, 102, 1);

-- Rows come back in RowID order: item 1031 level 1 lists 徐明, 蒋涛 (who
-- loads the flow himself) and the deleted 蔡军.
INSERT INTO AuditFlowAuditors (RowID, AuditorID, AuditLevelIndex, FlowItemID) VALUES
    (1001, 107, 1, 1031),
    (1002, 112, 1, 1031),
    (1003, 109, 1, 1031),
    (1004, 110, 1, 1032),
    (1005, 111, 2, 1032),
    (1006, 108, 2, 1032),
    (1007, 107, 1, 1033),
    (1008, 110, 2, 1033),
    (1009, 111, 3, 1033),
    (1010, 107, 1, 1042),
    (1011, 110, 1, 1051),
    (1012, 111, 1, 1052);
