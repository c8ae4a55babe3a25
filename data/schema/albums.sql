CREATE TABLE "@TABLE@" (
  index AUTOINC,
  album CHAR(40),
  artist CHAR(40),
  beginID INTEGER,
  PRIMARY KEY (index),
  INDEX ByArtist (artist)
) DESCRIPTION 'albums';
