-- sorvanto.dat as the release before the column-by-name store writes it: a first start, dumped
-- with the sqlite3 shell's .dump.
PRAGMA foreign_keys=OFF;
BEGIN TRANSACTION;
CREATE TABLE settings (id INTEGER PRIMARY KEY AUTOINCREMENT, account VARCHAR(45) NOT NULL, sipServerIp VARCHAR(45) NOT NULL, sipProxyIp VARCHAR(45) NULL, sipServerPort VARCHAR(32) NOT NULL, user VARCHAR(45) NOT NULL, domain VARCHAR(45) NOT NULL, login VARCHAR(45) NULL, password VARCHAR(45) NULL, name VARCHAR(45) NULL, voicemail VARCHAR(45) NULL, prefix VARCHAR(45) NULL, plan VARCHAR(45) NULL, hideCallerId VARCHAR(32) NOT NULL, encryptMedia VARCHAR(45) NOT NULL, transport VARCHAR(45) NOT NULL, publicAddr VARCHAR(45) NOT NULL, registrTimeout INTEGER NOT NULL, keepAlive INTEGER NOT NULL, publicPresent VARCHAR(32) NOT NULL, enableRewriteIp VARCHAR(32) NOT NULL, ICE VARCHAR(32) NOT NULL, disableSessionTimer VARCHAR(32) NOT NULL, useLog VARCHAR(32) NOT NULL, mediaIp VARCHAR(45) NOT NULL, mediaPort INTEGER NOT NULL, codecPCMA VARCHAR(32) NOT NULL, codecPCMU VARCHAR(32) NOT NULL, useSTUN VARCHAR(32) NOT NULL, STUN VARCHAR(32) NOT NULL );
INSERT INTO settings VALUES(1,'','','','5060','','','','','','','','','false','Отключено','UDP','',3600,15,'false','false','false','false','true','',60000,'true','true','false','$DEFAULT_STUN_URL');
CREATE TABLE history (id INTEGER PRIMARY KEY AUTOINCREMENT, called VARCHAR(50) NOT NULL, ctime VARCHAR(50) NOT NULL, time VARCHAR(50) NOT NULL, info VARCHAR(50) NULL);
CREATE TABLE number (id INTEGER PRIMARY KEY AUTOINCREMENT, num VARCHAR(50) NOT NULL, info VARCHAR(50) NULL);
CREATE TABLE historybox (id INTEGER PRIMARY KEY AUTOINCREMENT, called VARCHAR(50) NOT NULL, ctime VARCHAR(50) NOT NULL, info VARCHAR(50) NULL);
DELETE FROM sqlite_sequence;
INSERT INTO sqlite_sequence VALUES('settings',1);
COMMIT;
