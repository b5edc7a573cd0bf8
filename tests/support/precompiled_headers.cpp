// Only here so that the shared precompiled header of the tests is built.
