package com.pelmar.usb3k.internal;

import java.nio.file.Path;

/**
 * A folder the jar's copies may be extracted into, and the folder it must be made in: the folders
 * between them are made when missing, the anchor never.
 *
 * @param folder the cache folder; null when the environment names none
 * @param anchor the folder that must exist already; null when any missing folder may be made
 * @param about what the anchor is, in words (the user's home); or, without a folder, why there is
 *     none
 */
record CachePlace(Path folder, Path anchor, String about) {
    static CachePlace none(String why) {
        return new CachePlace(null, null, why);
    }
}
