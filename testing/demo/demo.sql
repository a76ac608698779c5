-- Sample database for the demo: a small shop, served by tabloxa-tdsemu.
--   tabloxa-tdsemu --seed testing/demo/demo.sql
-- Database DemoShop; owners dbo, sales and hr; every column type the exporter meets.

CREATE DATABASE DemoShop;
GO
USE DemoShop;
GO
CREATE SCHEMA sales;
CREATE SCHEMA hr;
GO

CREATE TABLE dbo.Customers (
    CustomerID int IDENTITY(1,1) NOT NULL,
    Name nvarchar(100) NOT NULL,
    Email varchar(120) NULL,
    Country nchar(2) NOT NULL DEFAULT N'FR',
    CreditLimit money NULL,
    Discount smallmoney NULL DEFAULT 0,
    Rating tinyint NULL,
    IsActive bit NOT NULL DEFAULT 1,
    Notes ntext NULL,
    CONSTRAINT PK_Customers PRIMARY KEY (CustomerID)
);
CREATE UNIQUE INDEX UX_Customers_Email ON dbo.Customers (Email);
CREATE INDEX IX_Customers_Country ON dbo.Customers (Country, Name);

CREATE TABLE dbo.Products (
    ProductID int NOT NULL,
    Sku char(8) NOT NULL,
    Title nvarchar(200) NOT NULL,
    Description nvarchar(max) NULL,
    Price decimal(10,2) NOT NULL,
    Weight real NULL,
    Density float NULL,
    Photo varbinary(max) NULL,
    Thumbnail image NULL,
    Datasheet xml NULL,
    ProductGuid uniqueidentifier NOT NULL,
    RowVer timestamp,
    CONSTRAINT PK_Products PRIMARY KEY (ProductID),
    CONSTRAINT UQ_Products_Sku UNIQUE (Sku)
);

CREATE TABLE dbo.Orders (
    OrderID bigint NOT NULL PRIMARY KEY,
    CustomerID int NOT NULL,
    OrderDate date NOT NULL,
    ShipTime time(3) NULL,
    CreatedAt datetime2(7) NOT NULL,
    PlacedAt datetimeoffset(7) NULL,
    LegacyStamp smalldatetime NULL,
    EnteredAt datetime NULL,
    Total numeric(12,2) NULL,
    Status varchar(20) NOT NULL DEFAULT 'new',
    Extra sql_variant NULL,
    CONSTRAINT FK_Orders_Customers FOREIGN KEY (CustomerID) REFERENCES dbo.Customers (CustomerID)
);
CREATE INDEX IX_Orders_Date ON dbo.Orders (OrderDate DESC);

CREATE TABLE dbo.OrderLines (
    OrderID bigint NOT NULL,
    LineNo smallint NOT NULL,
    ProductID int NOT NULL,
    Quantity int NOT NULL,
    UnitPrice money NOT NULL,
    CONSTRAINT PK_OrderLines PRIMARY KEY (OrderID, LineNo),
    CONSTRAINT FK_OrderLines_Orders FOREIGN KEY (OrderID) REFERENCES dbo.Orders (OrderID) ON DELETE CASCADE,
    CONSTRAINT FK_OrderLines_Products FOREIGN KEY (ProductID) REFERENCES dbo.Products (ProductID)
);

CREATE TABLE dbo.[Price History (2024)] (
    ProductID int NOT NULL,
    [Valid From] date NOT NULL,
    [Old Price] decimal(10,2) NULL,
    [New Price] decimal(10,2) NOT NULL,
    CONSTRAINT [PK_Price History] PRIMARY KEY ([ProductID], [Valid From]),
    CONSTRAINT FK_PriceHistory_Products FOREIGN KEY (ProductID) REFERENCES dbo.Products (ProductID)
);

CREATE TABLE sales.Regions (
    RegionCode char(3) NOT NULL PRIMARY KEY,
    Name nvarchar(50) NOT NULL,
    Remarks text NULL,
    Code binary(4) NULL,
    Flags varbinary(8) NULL,
    Population bigint NULL,
    Area decimal(38,6) NULL
);

CREATE TABLE hr.Employees (
    EmployeeID smallint NOT NULL PRIMARY KEY,
    FullName nvarchar(80) NOT NULL,
    Title varchar(max) NULL,
    ManagerID smallint NULL REFERENCES hr.Employees (EmployeeID),
    RegionCode char(3) NULL,
    HiredOn date NULL,
    Salary decimal(19,4) NULL
);
GO

INSERT INTO dbo.Customers (Name, Email, Country, CreditLimit, Discount, Rating, IsActive, Notes) VALUES
    (N'Zoë Lefèvre', 'zoe@example.com', N'FR', 5000.00, 0.05, 5, 1, N'Prefers delivery before noon.'),
    (N'Jürgen Groß', 'juergen@example.de', N'DE', 12500.50, 0.10, 4, 1, NULL),
    (N'李小龙', 'li@example.cn', N'CN', 800.00, NULL, 3, 1, N'合同已签署'),
    (N'Ólafur Þórsson', NULL, N'IS', NULL, 0, NULL, 0, N'Account closed; "do not contact".'),
    (N'Mary O''Brien', 'mary@example.ie', N'IE', 250.75, 0.0125, 2, 1, N'Line one
line two'),
    (N'Анна Петрова', 'anna@example.ru', N'RU', 99999.99, 0.15, 5, 1, N'Постоянный клиент 😀');

INSERT INTO dbo.Products (ProductID, Sku, Title, Description, Price, Weight, Density, Photo, Thumbnail, Datasheet, ProductGuid) VALUES
    (1, 'TEA-0001', N'Green tea, 100 g', N'Sencha from Shizuoka — 静岡', 8.90, 0.1, 0.35, 0x89504E470D0A1A0A, 0xFFD8FFE0,
     N'<sheet><origin>JP</origin><grade>A</grade></sheet>', '6F9619FF-8B86-D011-B42D-00C04FC964FF'),
    (2, 'CUP-0002', N'Teacup "Kyoto"', N'Hand-made; holds 0.2 l', 24.50, 0.35, 2.4, NULL, NULL, NULL,
     'A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11'),
    (3, 'POT-0003', N'Teapot, cast iron', NULL, 79.00, 1.2, 7.2, 0x00FF00FF, NULL, N'<sheet material="iron"/>',
     '3F2504E0-4F89-11D3-9A0C-0305E82C3301'),
    (4, 'GFT-0004', N'Gift card €25', N'Valid for 12 months', 25.00, NULL, NULL, NULL, NULL, NULL,
     '00000000-0000-0000-0000-000000000001');

INSERT INTO dbo.Orders (OrderID, CustomerID, OrderDate, ShipTime, CreatedAt, PlacedAt, LegacyStamp, EnteredAt, Total, Status, Extra) VALUES
    (10001, 1, '2024-01-15', '14:30:00.250', '2024-01-15 09:12:45.1234567', '2024-01-15 09:12:45.1234567 +01:00',
     '2024-01-15 09:13:00', '2024-01-15 09:12:45.997', 42.30, 'shipped', 42),
    (10002, 2, '2024-02-29', NULL, '2024-02-29 23:59:59.9999999', '2024-02-29 23:59:59.9999999 -05:00',
     NULL, '2024-02-29 23:59:59.997', 158.00, 'paid', N'gift wrap'),
    (10003, 3, '2024-03-01', '08:00:00', '2024-03-01 08:00:00', NULL, '2024-03-01 08:00:00', NULL, NULL, 'new', NULL),
    (10004, 6, '1999-12-31', '23:59:59.999', '1999-12-31 23:59:59.5', '1999-12-31 23:59:59.5 +14:00',
     '1999-12-31 23:59:00', '1999-12-31 23:59:59.003', 0.01, 'cancelled', 3.5),
    (10005, 5, '2024-06-30', '12:00:00', '2024-06-30 12:00:00.0000001', '2024-06-30 12:00:00 +00:00',
     NULL, '2024-06-30 12:00:00', 1234567890.12, 'shipped', NULL);

INSERT INTO dbo.OrderLines VALUES
    (10001, 1, 1, 2, 8.90), (10001, 2, 2, 1, 24.50),
    (10002, 1, 3, 2, 79.00),
    (10004, 1, 4, 1, 0.01),
    (10005, 1, 1, 100000, 8.90), (10005, 2, 3, 1, 79.00);

INSERT INTO dbo.[Price History (2024)] VALUES
    (1, '2024-01-01', 7.90, 8.90), (3, '2024-04-01', NULL, 79.00), (4, '2024-05-15', 20.00, 25.00);

INSERT INTO sales.Regions VALUES
    ('EU', N'Europe', 'Main market. Café owners.', 0x45550000, 0x01, 447700000, 10180000.5),
    ('APC', N'Asia–Pacific', NULL, 0x41504300, 0x0102030405060708, 4300000000, 43820000.123456),
    ('NA', N'North America', 'Launch planned', NULL, NULL, NULL, NULL);

INSERT INTO hr.Employees VALUES
    (1, N'Søren Kierkegaard', 'Managing director', NULL, 'EU', '2015-03-01', 150000.0000),
    (2, N'Amélie Poulain', 'Sales', 1, 'EU', '2019-07-15', 52000.5000),
    (3, N'田中 太郎', 'Buyer, tea', 1, 'APC', '2021-11-30', 61000.2500),
    (4, N'Noah Smith', NULL, 2, 'NA', NULL, NULL);
GO

CREATE VIEW dbo.CustomerOrders AS
SELECT TOP 100 PERCENT c.Name, o.OrderID, o.OrderDate, o.Total
FROM dbo.Customers c JOIN dbo.Orders o ON o.CustomerID = c.CustomerID
ORDER BY o.OrderDate;
GO
