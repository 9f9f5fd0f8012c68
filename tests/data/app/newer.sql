-- A newer version's file: a setting this one does not know (ringVolume) stands between two it does.
PRAGMA foreign_keys=OFF;
BEGIN TRANSACTION;
CREATE TABLE settings (id INTEGER PRIMARY KEY AUTOINCREMENT, account VARCHAR(45) NOT NULL, sipServerIp VARCHAR(45) NOT NULL, sipProxyIp VARCHAR(45) NULL, sipServerPort VARCHAR(32) NOT NULL, user VARCHAR(45) NOT NULL, domain VARCHAR(45) NOT NULL, login VARCHAR(45) NULL, password VARCHAR(45) NULL, name VARCHAR(45) NULL, voicemail VARCHAR(45) NULL, prefix VARCHAR(45) NULL, plan VARCHAR(45) NULL, hideCallerId VARCHAR(32) NOT NULL, encryptMedia VARCHAR(45) NOT NULL, transport VARCHAR(45) NOT NULL, publicAddr VARCHAR(45) NOT NULL, registrTimeout INTEGER NOT NULL, keepAlive INTEGER NOT NULL, publicPresent VARCHAR(32) NOT NULL, enableRewriteIp VARCHAR(32) NOT NULL, ICE VARCHAR(32) NOT NULL, disableSessionTimer VARCHAR(32) NOT NULL, useLog VARCHAR(32) NOT NULL, mediaIp VARCHAR(45) NOT NULL, mediaPort INTEGER NOT NULL, codecPCMA VARCHAR(32) NOT NULL, codecPCMU VARCHAR(32) NOT NULL, ringVolume INTEGER NOT NULL, useSTUN VARCHAR(32) NOT NULL, STUN VARCHAR(32) NOT NULL );
INSERT INTO settings VALUES(1,'Дом ''main''','192.168.7.1','192.168.7.2','5070','1001','pbx.local','auth1001','s3cr''et','Иван Петров','*97','9','8XXXXXXXXXX','true','SRTP','TCP','203.0.113.5',1800,30,'true','true','true','true','false','192.168.7.50',40000,'false','true',7,'true','udp://stun.pbx.local:3478');
CREATE TABLE history (id INTEGER PRIMARY KEY AUTOINCREMENT, called VARCHAR(50) NOT NULL, ctime VARCHAR(50) NOT NULL, time VARCHAR(50) NOT NULL, info VARCHAR(50) NULL);
INSERT INTO history VALUES(1,'100','05.01.2025 10:00:00','00:01:10','Out');
INSERT INTO history VALUES(2,'200','31.12.2024 10:00:00','00:00:00','Out');
INSERT INTO history VALUES(3,'300','07.01.2025 10:00:00','00:02:00','In');
INSERT INTO history VALUES(4,'400','08.01.2025 10:00:00','00:00:00','Break');
CREATE TABLE number (id INTEGER PRIMARY KEY AUTOINCREMENT, num VARCHAR(50) NOT NULL, info VARCHAR(50) NULL);
CREATE TABLE historybox (id INTEGER PRIMARY KEY AUTOINCREMENT, called VARCHAR(50) NOT NULL, ctime VARCHAR(50) NOT NULL, info VARCHAR(50) NULL);
INSERT INTO historybox VALUES(1,'100','05.01.2025 10:00:00','Out');
INSERT INTO historybox VALUES(2,'200','31.12.2024 10:00:00','Out');
DELETE FROM sqlite_sequence;
INSERT INTO sqlite_sequence VALUES('settings',1);
INSERT INTO sqlite_sequence VALUES('history',4);
INSERT INTO sqlite_sequence VALUES('historybox',2);
COMMIT;
