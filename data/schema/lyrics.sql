CREATE TABLE "@TABLE@" (
  id AUTOINC,
  songname CHAR(50),
  lyrics MEMO,
  songindex INTEGER,
  songdb CHAR(40),
  PRIMARY KEY (id),
  INDEX BySong (songindex, songdb)
) DESCRIPTION 'shared lyric table';
