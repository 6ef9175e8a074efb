-- Shared server database ("NX7PRO.mdb"), the contract with the counter stations.

CREATE TABLE "Servizi" (
  "ID" INTEGER PRIMARY KEY,
  "Servizio" TEXT,
  "ServizioAttivo" BOOLEAN,
  "Attesa" INTEGER
);

CREATE TABLE "Codafromtotem" (
  "ServizioID" INTEGER,
  "SErvizio" TEXT,
  "Ora" TEXT,
  "SeChiamato" BOOLEAN,
  "NrDaChiamare" INTEGER
);

CREATE TABLE "configurazioneTotem" (
  "RisoluzioneTotem" INTEGER,
  "SfondoTotem" TEXT,
  "TitoloTotem" TEXT,
  "FontTitolo" TEXT,
  "FontBoldTItolo" BOOLEAN,
  "FontitalicTitolo" BOOLEAN,
  "FontSizeTitolo" REAL,
  "FontForecolorTitolo" TEXT,
  "FontData" TEXT,
  "FontBoldData" BOOLEAN,
  "FontitalicData" BOOLEAN,
  "FontSizeData" REAL,
  "FontForecolorData" TEXT,
  "Font" TEXT,
  "FontBold" BOOLEAN,
  "Fontitalic" BOOLEAN,
  "FontSize" REAL,
  "FontForecolor" TEXT,
  "TestoVisibile" BOOLEAN,
  "DataVisibile" BOOLEAN
);
INSERT INTO "configurazioneTotem" VALUES (
  0, '', 'Scegli il Servizio', 'Arial', -1, 0, 36, '8388608',
  'Arial', 0, 0, 10, '0',
  'Arial', -1, 0, 24, '0',
  -1, -1
);
