CREATE TABLE "@TABLE@" (
  index AUTOINC,
  albumIndex INTEGER,
  song CHAR(50),
  url1 CHAR(150),
  PRIMARY KEY (index),
  INDEX ByAlbum (albumIndex)
) DESCRIPTION 'songs';
