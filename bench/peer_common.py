"""What the peer scripts share: the game's data files, conversion of binary
ones with krun, and the data database with Ketch's three tables and indexes."""
import os
import shutil
import sqlite3
import subprocess
import tempfile

SCHEMA = """
CREATE TABLE "Sections" ("DB_ID" INTEGER PRIMARY KEY, "Area" TEXT, "Section" TEXT, "File" TEXT, "Line" INTEGER);
CREATE TABLE "Entries" ("DB_ID" INTEGER PRIMARY KEY, "Entry" TEXT, "EntryID" INTEGER NOT NULL, "Link" INTEGER NOT NULL, "Line" INTEGER);
CREATE INDEX "Entries.LinkIDX" ON "Entries" ("Link");
CREATE INDEX "Entries.IDIDX" ON "Entries" ("EntryID");
CREATE TABLE "Values" ("DB_ID" INTEGER PRIMARY KEY, "Link" INTEGER NOT NULL, "Value" TEXT);
CREATE INDEX "Values.LinkIDX" ON "Values" ("Link");
"""


def game_files(game):
    """vandrel.ini and every .ini below DATA, in a fixed order."""
    out = [os.path.join(game, "EXE", "vandrel.ini")]
    for root, dirs, files in os.walk(os.path.join(game, "DATA")):
        dirs.sort()
        out += [os.path.join(root, f) for f in sorted(files) if f.lower().endswith(".ini")]
    return out


class Converter:
    """Binary files are converted with krun into a private folder."""

    def __init__(self, krun):
        self.krun = krun
        self.folder = tempfile.mkdtemp(prefix="peer-krun-")
        self.converted = 0

    def text_of(self, path):
        """The file's text (cp1252 read as latin-1), or None."""
        with open(path, "rb") as f:
            data = f.read()
        if data.startswith(b"KRUN"):
            copy = os.path.join(self.folder, "data.ini")
            shutil.copyfile(path, copy)
            if subprocess.run([self.krun, copy], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode:
                return None
            with open(copy + ".txt", "rb") as f:
                data = f.read()
            self.converted += 1
        return data.decode("latin-1")

    def close(self):
        shutil.rmtree(self.folder, ignore_errors=True)


def open_db(path):
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(path + suffix):
            os.remove(path + suffix)
    db = sqlite3.connect(path, isolation_level=None)
    db.execute("PRAGMA journal_mode=WAL")
    db.execute("PRAGMA synchronous=NORMAL")
    db.executescript(SCHEMA)
    return db


class Store:
    """One transaction per file; rows as Ketch stores them."""

    def __init__(self, db):
        self.db = db
        self.cur = db.cursor()
        self.rows = 0

    def begin(self):
        self.cur.execute("BEGIN")

    def commit(self):
        self.cur.execute("COMMIT")

    def section(self, area, name, file, line):
        self.cur.execute('INSERT INTO "Sections" (Area, Section, File, Line) VALUES (?, ?, ?, ?)',
                         (area, name.lower(), file, line))
        self.rows += 1
        return self.cur.lastrowid

    def entry(self, section_id, key, line, values):
        self.cur.execute('INSERT INTO "Entries" (Entry, EntryID, Link, Line) VALUES (?, 0, ?, ?)',
                         (key.lower(), section_id, line))
        entry_id = self.cur.lastrowid
        self.cur.executemany('INSERT INTO "Values" (Link, Value) VALUES (?, ?)', [(entry_id, v) for v in values])
        self.rows += 1 + len(values)
