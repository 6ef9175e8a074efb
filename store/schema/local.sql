-- Local database of a kiosk station ("TotemNX7PRO.mdb").
-- One-row tables; the kiosk only ever reads and updates their first row.

CREATE TABLE "ConfigurazioneTotem" (
  "AttesaSN" BOOLEAN,
  "AttesaSecondi" SMALLINT
);
INSERT INTO "ConfigurazioneTotem" ("AttesaSN", "AttesaSecondi") VALUES (0, 0);

CREATE TABLE "Numerazione" ("P1" INTEGER, "P2" INTEGER, "P3" INTEGER, "P4" INTEGER, "P5" INTEGER, "P6" INTEGER, "P7" INTEGER, "P8" INTEGER, "P9" INTEGER, "P10" INTEGER, "P11" INTEGER, "P12" INTEGER, "P13" INTEGER, "P14" INTEGER, "P15" INTEGER, "P16" INTEGER, "P17" INTEGER, "P18" INTEGER, "P19" INTEGER, "P20" INTEGER);
INSERT INTO "Numerazione" VALUES (1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1);

CREATE TABLE "NumerazioneIniziale" ("P1" INTEGER, "P2" INTEGER, "P3" INTEGER, "P4" INTEGER, "P5" INTEGER, "P6" INTEGER, "P7" INTEGER, "P8" INTEGER, "P9" INTEGER, "P10" INTEGER, "P11" INTEGER, "P12" INTEGER, "P13" INTEGER, "P14" INTEGER, "P15" INTEGER, "P16" INTEGER, "P17" INTEGER, "P18" INTEGER, "P19" INTEGER, "P20" INTEGER);
INSERT INTO "NumerazioneIniziale" VALUES (1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1);

CREATE TABLE "DatiDaStampare" (
  "ID" INTEGER PRIMARY KEY,
  "QualeUtente" TEXT,
  "QualeData" TEXT,
  "NumeroArrivati" INTEGER,
  "QualeOra" TEXT,
  "NumeroDaStampare" INTEGER
);
INSERT INTO "DatiDaStampare" ("ID", "QualeUtente", "QualeData", "NumeroArrivati", "QualeOra", "NumeroDaStampare")
  VALUES (1, '', '', 0, '', 0);
