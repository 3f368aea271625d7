-- The settings database Tervix.mdb, shared by the service and the configuration window.
--
-- This is schema version 0, the original layout. The tables of later versions are made by
-- the upgrade steps in schema.cc, which a new file goes through as an old one does.
--
-- Both tables are plain rowid tables: no INTEGER PRIMARY KEY and no AUTOINCREMENT, so a new
-- row always gets the next rowid and "natural order" is simply rowid order. Columns holding
-- numbers have INTEGER affinity, so a number typed as text is kept as a number; booleans are
-- 0 and 1. No constraints: the window decides what a row holds, the service converts what it
-- reads and reports what it cannot use.
--
-- The column order is part of the interface: the service and the window read the SnmpTrap
-- variable columns by position (VarName<i> at 4i, VarPos<i> at 4i+1, VarChar<i> at 4i+2,
-- VarType<i> at 4i+3, for i = 1 to 14).

CREATE TABLE General_Setting (
  DebugMode INTEGER,
  TrapRecvIpAddr TEXT,
  TrapRecvPort INTEGER,
  TrapRecvStatus TEXT,
  TrapForwIpAddr TEXT,
  TrapForwPort INTEGER,
  ConvV2ToV1 INTEGER
);

CREATE TABLE SnmpTrap (
  TrapName TEXT,
  TrapOID TEXT,
  TrapSourceVarNo INTEGER,
  TrapNewVarNo INTEGER,
  VarName1 TEXT, VarPos1 INTEGER, VarChar1 INTEGER, VarType1 TEXT,
  VarName2 TEXT, VarPos2 INTEGER, VarChar2 INTEGER, VarType2 TEXT,
  VarName3 TEXT, VarPos3 INTEGER, VarChar3 INTEGER, VarType3 TEXT,
  VarName4 TEXT, VarPos4 INTEGER, VarChar4 INTEGER, VarType4 TEXT,
  VarName5 TEXT, VarPos5 INTEGER, VarChar5 INTEGER, VarType5 TEXT,
  VarName6 TEXT, VarPos6 INTEGER, VarChar6 INTEGER, VarType6 TEXT,
  VarName7 TEXT, VarPos7 INTEGER, VarChar7 INTEGER, VarType7 TEXT,
  VarName8 TEXT, VarPos8 INTEGER, VarChar8 INTEGER, VarType8 TEXT,
  VarName9 TEXT, VarPos9 INTEGER, VarChar9 INTEGER, VarType9 TEXT,
  VarName10 TEXT, VarPos10 INTEGER, VarChar10 INTEGER, VarType10 TEXT,
  VarName11 TEXT, VarPos11 INTEGER, VarChar11 INTEGER, VarType11 TEXT,
  VarName12 TEXT, VarPos12 INTEGER, VarChar12 INTEGER, VarType12 TEXT,
  VarName13 TEXT, VarPos13 INTEGER, VarChar13 INTEGER, VarType13 TEXT,
  VarName14 TEXT, VarPos14 INTEGER, VarChar14 INTEGER, VarType14 TEXT,
  TrapNewNumber INTEGER
);

-- The one settings row. The forward port differs from the receive port, so that a relay
-- started with the defaults never sends traps to itself.
INSERT INTO General_Setting
  (DebugMode, TrapRecvIpAddr, TrapRecvPort, TrapRecvStatus, TrapForwIpAddr, TrapForwPort,
   ConvV2ToV1)
VALUES (0, '0.0.0.0', 162, 'Not Started', '127.0.0.1', 1162, 0);
