/* The floor of the music benchmark: the file-system work of a music index
   run, done plainly. Lists the genre folders of a program folder and the
   "*.mp3" files in each with readdir, and writes folders.txt, MP3filelist.txt
   and MusicIndex.txt there. Given genre names after the folder, it lists only
   those genres and writes Songlist.txt: the scan of a playlist request.

   usage: scan_floor FOLDER [GENRE...] */
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

static int is_mp3(const char *name)
{
    size_t n = strlen(name);
    return n > 4 && strcasecmp(name + n - 4, ".mp3") == 0;
}

static int is_folder(const char *parent, const struct dirent *entry)
{
    if (entry->d_type == DT_DIR)
        return 1;
    if (entry->d_type != DT_UNKNOWN)
        return 0;
    char path[4096];
    struct stat st;
    snprintf(path, sizeof path, "%s/%s", parent, entry->d_name);
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

static FILE *create(const char *folder, const char *name)
{
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", folder, name);
    /* A new file rather than the old one cut to nothing: some file systems
       flush a truncated file's replacement at close, which is no work of
       the scan. */
    unlink(path);
    FILE *f = fopen(path, "wb");
    if (!f) {
        perror(path);
        exit(1);
    }
    return f;
}

/* Lists one genre's songs into the song list and, for an index run, the index. */
static void scan_genre(const char *folder, const char *genre, FILE *songs, FILE *index)
{
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", folder, genre);
    DIR *dir = opendir(path);
    if (!dir)
        return;
    struct dirent *entry;
    while ((entry = readdir(dir)) != NULL) {
        if (!is_mp3(entry->d_name))
            continue;
        if (index) {
            fprintf(songs, "%s/%s/%s\r\n", folder, genre, entry->d_name);
            fprintf(index, "<li><a href=\"#\" data-src=\"..\\audiojs\\%s\\%s\">%.*s</a></li>\r\n", genre,
                    entry->d_name, (int)(strlen(entry->d_name) - 4), entry->d_name);
        } else {
            fprintf(songs, "%s|<li><a href=\"#\" data-src=\"..\\audiojs\\%s\\%s\">(%s) %.*s</a></li>\r\n", genre,
                    genre, entry->d_name, genre, (int)(strlen(entry->d_name) - 4), entry->d_name);
        }
    }
    closedir(dir);
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: scan_floor FOLDER [GENRE...]\n");
        return 2;
    }
    const char *folder = argv[1];
    if (argc > 2) {
        FILE *songs = create(folder, "Songlist.txt");
        for (int i = 2; i < argc; i++)
            scan_genre(folder, argv[i], songs, NULL);
        return fclose(songs) == 0 ? 0 : 1;
    }
    FILE *folders = create(folder, "folders.txt");
    FILE *songs = create(folder, "MP3filelist.txt");
    FILE *index = create(folder, "MusicIndex.txt");
    DIR *dir = opendir(folder);
    if (!dir) {
        perror(folder);
        return 1;
    }
    struct dirent *entry;
    while ((entry = readdir(dir)) != NULL) {
        if (entry->d_name[0] == '.' || !is_folder(folder, entry))
            continue;
        fprintf(folders, "%s/%s\r\n", folder, entry->d_name);
        scan_genre(folder, entry->d_name, songs, index);
    }
    closedir(dir);
    return (fclose(folders) | fclose(songs) | fclose(index)) == 0 ? 0 : 1;
}
