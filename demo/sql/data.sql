/* The demo's rows. UTF-8 text: demo/create-demo connects with SET NAMES UTF8, and the database
   (WIN1252) stores the letters in its own character set. The people are invented; the
   municipalities, their ISTAT codes and cadastral codes are real. */

INSERT INTO SYSDBVER VALUES (1, 0, 0, 0, 'QLM');

INSERT INTO AFCOMUNI VALUES ('004003', 'Alba', 'CN', 'A124');
INSERT INTO AFCOMUNI VALUES ('004011', 'Barbaresco', 'CN', 'A629');
INSERT INTO AFCOMUNI VALUES ('004013', 'Barolo', 'CN', 'A671');
INSERT INTO AFCOMUNI VALUES ('004029', 'Bra', 'CN', 'B111');
INSERT INTO AFCOMUNI VALUES ('004043', 'Carrù', 'CN', 'B841');
INSERT INTO AFCOMUNI VALUES ('004055', 'Castiglione Falletto', 'CN', 'C314');
INSERT INTO AFCOMUNI VALUES ('004067', 'Cherasco', 'CN', 'C599');
INSERT INTO AFCOMUNI VALUES ('004078', 'Cuneo', 'CN', 'D205');
INSERT INTO AFCOMUNI VALUES ('004080', 'Diano d''Alba', 'CN', 'D291');
INSERT INTO AFCOMUNI VALUES ('004081', 'Dogliani', 'CN', 'D314');
INSERT INTO AFCOMUNI VALUES ('004100', 'Grinzane Cavour', 'CN', 'E182');
INSERT INTO AFCOMUNI VALUES ('004101', 'Guarene', 'CN', 'E251');
INSERT INTO AFCOMUNI VALUES ('004105', 'La Morra', 'CN', 'E430');
INSERT INTO AFCOMUNI VALUES ('004130', 'Mondovì', 'CN', 'F351');
INSERT INTO AFCOMUNI VALUES ('004132', 'Monforte d''Alba', 'CN', 'F358');
INSERT INTO AFCOMUNI VALUES ('004148', 'Neive', 'CN', 'F863');
INSERT INTO AFCOMUNI VALUES ('004194', 'Roddi', 'CN', 'H472');
INSERT INTO AFCOMUNI VALUES ('004218', 'Serralunga d''Alba', 'CN', 'I646');
INSERT INTO AFCOMUNI VALUES ('004230', 'Treiso', 'CN', 'L367');
INSERT INTO AFCOMUNI VALUES ('004238', 'Verduno', 'CN', 'L758');
INSERT INTO AFCOMUNI VALUES ('005005', 'Asti', 'AT', 'A479');
INSERT INTO AFCOMUNI VALUES ('001272', 'Torino', 'TO', 'L219');
INSERT INTO AFCOMUNI VALUES ('003106', 'Novara', 'NO', 'F952');
INSERT INTO AFCOMUNI VALUES ('015146', 'Milano', 'MI', 'F205');
INSERT INTO AFCOMUNI VALUES ('058091', 'Roma', 'RM', 'H501');

INSERT INTO AFDATGEN VALUES ('004003', 'Comune di Alba - Servizi demografici', '2019-03-01');

INSERT INTO AFVIE VALUES (1, 'Via', 'Vittorio Emanuele II', '12051');
INSERT INTO AFVIE VALUES (2, 'Piazza', 'Risorgimento', '12051');
INSERT INTO AFVIE VALUES (3, 'Via', 'Cavour', '12051');
INSERT INTO AFVIE VALUES (4, 'Corso', 'Torino', '12051');
INSERT INTO AFVIE VALUES (5, 'Corso', 'Langhe', '12051');
INSERT INTO AFVIE VALUES (6, 'Piazza', 'Michele Ferrero', '12051');
INSERT INTO AFVIE VALUES (7, 'Via', 'Giacomo Matteotti', '12051');
INSERT INTO AFVIE VALUES (8, 'Corso', 'Italia', '12051');

INSERT INTO AFFAMIGLIE VALUES (1, 1, '12', '1998-05-16');
INSERT INTO AFFAMIGLIE VALUES (2, 3, '4/B', '2006-09-02');
INSERT INTO AFFAMIGLIE VALUES (3, 4, '101', '2015-11-20');
INSERT INTO AFFAMIGLIE VALUES (4, 2, '7', '1987-03-07');
INSERT INTO AFFAMIGLIE VALUES (5, 5, '33', '2021-06-12');
INSERT INTO AFFAMIGLIE VALUES (6, 8, '2', '2012-01-30');

INSERT INTO AFINDIVIDUI VALUES (1, 1, 'Bertolotti', 'Giovanni', 'M', '1968-02-11', '004003', 'Intestatario');
INSERT INTO AFINDIVIDUI VALUES (2, 1, 'Gallo', 'Maria Teresa', 'F', '1971-07-23', '004029', 'Coniuge');
INSERT INTO AFINDIVIDUI VALUES (3, 1, 'Bertolotti', 'Chiara', 'F', '2001-04-02', '004003', 'Figlia');
INSERT INTO AFINDIVIDUI VALUES (4, 2, 'Rinaldi', 'Nicolò', 'M', '1980-12-05', '001272', 'Intestatario');
INSERT INTO AFINDIVIDUI VALUES (5, 2, 'Costa', 'Federica', 'F', '1983-03-19', '004130', 'Convivente');
INSERT INTO AFINDIVIDUI VALUES (6, 3, 'Ferrero', 'Luca', 'M', '1990-08-30', '004078', 'Intestatario');
INSERT INTO AFINDIVIDUI VALUES (7, 4, 'Marengo', 'Pierina', 'F', '1941-01-14', '004148', 'Intestataria');
INSERT INTO AFINDIVIDUI VALUES (8, 5, 'Sandri', 'Andrea', 'M', '1995-10-09', '015146', 'Intestatario');
INSERT INTO AFINDIVIDUI VALUES (9, 5, 'Ghione', 'Elisa', 'F', '1996-05-27', '005005', 'Convivente');
INSERT INTO AFINDIVIDUI VALUES (10, 6, 'Olivero', 'Franco', 'M', '1958-06-03', '004105', 'Intestatario');
INSERT INTO AFINDIVIDUI VALUES (11, 6, 'Olivero', 'Lucia', 'F', '1986-09-21', '004003', 'Figlia');

COMMIT;
