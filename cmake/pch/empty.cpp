// The translation unit that precompiled headers are built from; it holds nothing itself.
