-- The supplied settings and rule database KETCH.MDB. mkketchdb runs this
-- script on a new file, then fills the tables from the .tsv files beside it.

CREATE TABLE _bc_Settings (
  VDPath TEXT,
  LogPath TEXT,
  OverwriteLog INTEGER
);

-- Display names of the value type codes.
CREATE TABLE _bc_types (
  Type INTEGER PRIMARY KEY,
  TypeName TEXT NOT NULL
);

CREATE TABLE _bc_sections (
  DB_ID INTEGER PRIMARY KEY,
  SectionName TEXT NOT NULL,
  IDX INTEGER NOT NULL
);

CREATE TABLE _bc_entries (
  DB_ID INTEGER PRIMARY KEY,
  Section INTEGER NOT NULL REFERENCES _bc_sections(DB_ID),
  EntryName TEXT NOT NULL,
  IDX INTEGER NOT NULL,
  FixedArgsNo INTEGER NOT NULL,
  IsMultiLine INTEGER NOT NULL,
  HasVarArgs INTEGER NOT NULL,
  IsMandatory INTEGER NOT NULL
);

CREATE TABLE _bc_values (
  DB_ID INTEGER PRIMARY KEY,
  Entry INTEGER NOT NULL REFERENCES _bc_entries(DB_ID),
  ValueName TEXT,
  IDX INTEGER NOT NULL,
  Type INTEGER NOT NULL,
  IsMulti INTEGER NOT NULL
);

-- Data files that no configuration entry names, relative to the DATA folder.
CREATE TABLE _bc_OtherINI (
  DB_ID INTEGER PRIMARY KEY,
  Value TEXT NOT NULL
);

-- One row per value rule, grouped by section and entry, in value position
-- order: the listing the rule base is loaded from and dumped from.
CREATE VIEW _bc_ListSections AS
SELECT _bc_sections.SectionName AS SectionName,
       _bc_entries.EntryName AS EntryName,
       _bc_entries.IDX AS "_bc_entries.IDX",
       _bc_entries.FixedArgsNo AS FixedArgsNo,
       _bc_entries.IsMultiLine AS IsMultiLine,
       _bc_entries.HasVarArgs AS HasVarArgs,
       _bc_entries.IsMandatory AS IsMandatory,
       _bc_entries.DB_ID AS DB_ID,
       _bc_values.ValueName AS ValueName,
       _bc_values.Type AS Type,
       _bc_values.IDX AS "_bc_values.IDX",
       _bc_values.IsMulti AS IsMulti,
       _bc_types.TypeName AS TypeName
FROM ((_bc_sections
       INNER JOIN _bc_entries ON _bc_entries.Section = _bc_sections.DB_ID)
       LEFT JOIN _bc_values ON _bc_values.Entry = _bc_entries.DB_ID)
       LEFT JOIN _bc_types ON _bc_types.Type = _bc_values.Type
ORDER BY _bc_sections.IDX, _bc_entries.IDX, _bc_values.IDX;
