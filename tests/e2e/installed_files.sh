# The files an installation holds, relative to its prefix (sourced).
INSTALLED_FILES=(
    bin/murmex3 bin/murmex3-cli share/applications/murmex3.desktop
    share/icons/hicolor/scalable/apps/murmex3.svg share/man/man1/murmex3.1.gz
    share/man/man1/murmex3-cli.1.gz
    share/metainfo/org.murmex3.murmex3.metainfo.xml share/doc/murmex3/copyright
    share/murmex3/Sounds/Standard/{Away,Lunch,online,offline,message,DND,Bell,SmallMsg}.wav
)
