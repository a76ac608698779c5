-- End-to-end fixture: every column type in one table, owners, views, a denied table.
CREATE DATABASE E2E;
GO
USE E2E;
GO
CREATE SCHEMA clerk;
GO
CREATE TABLE dbo.AllTypes (
    id int NOT NULL PRIMARY KEY,
    i_big bigint NULL,
    i_small smallint NULL,
    i_tiny tinyint NULL,
    flag bit NULL,
    amount decimal(18,4) NULL,
    price money NULL,
    small_price smallmoney NULL,
    ratio float NULL,
    ratio4 real NULL,
    code char(4) NULL,
    label varchar(20) NULL,
    ncode nchar(3) NULL,
    title nvarchar(50) NULL,
    long_text varchar(max) NULL,
    long_ntext nvarchar(max) NULL,
    old_text text NULL,
    old_ntext ntext NULL,
    fixed_bin binary(4) NULL,
    var_bin varbinary(10) NULL,
    made datetime NULL,
    made_small smalldatetime NULL,
    made2 datetime2(7) NULL,
    day date NULL,
    at_time time(7) NULL,
    placed datetimeoffset NULL,
    guid uniqueidentifier NULL,
    doc xml NULL,
    anything sql_variant NULL
);
INSERT INTO dbo.AllTypes VALUES (1, -9223372036854775808, -32768, 255, 1, 12345678901234.5678, 922337203685477.5807,
    -214748.3648, 0.1, 2.5, 'ab', 'semi;colon', N'Жж', N'quote " and
line', 'long', N'😀 beyond the plane', 'old', N'ñ', 0x00FF10AB, 0x0102, '2005-12-31 23:59:59.997',
    '2005-12-31 23:59:00', '0001-01-01 00:00:00.0000000', '0001-01-01', '23:59:59.1234567',
    '2024-02-29 12:00:00.5000000 +05:30', '6F9619FF-8B86-D011-B42D-00C04FC964FF', N'<a>1</a>', 42);
INSERT INTO dbo.AllTypes (id) VALUES (2);
INSERT INTO dbo.AllTypes VALUES (3, 0, 0, 0, 0, 10.0000, 12.3400, 1.0000, 3.0, 4294967296, '', '', N'', N'', '', N'',
    '', N'', 0x00000000, 0x, '1900-01-01 00:00:00', '1900-01-01 00:00:00', '9999-12-31 23:59:59.9999999',
    '9999-12-31', '00:00:00', '0001-01-01 00:00:00.0000000 +00:00', '00000000-0000-0000-0000-000000000000',
    N'', N'text');

CREATE TABLE dbo.Orders (OrderID int NOT NULL PRIMARY KEY, Note nvarchar(20) NULL);
INSERT INTO dbo.Orders VALUES (1, N'first'), (2, NULL);
CREATE TABLE clerk.Notes (NoteID int NOT NULL, Body nvarchar(20) NULL);
INSERT INTO clerk.Notes VALUES (7, N'by the clerk');
CREATE TABLE dbo.Secret (id int NOT NULL);
INSERT INTO dbo.Secret VALUES (1);
DENY SELECT ON dbo.Secret TO clerk;
GO
CREATE VIEW dbo.OrderNotes AS SELECT OrderID, Note FROM dbo.Orders;
GO
