// The numbers of the catalogue's messages: message N is line N of TVPAT32.MSG.
// Code names a message only through these constants, so that what each line
// of the catalogue is for can be read here.
#ifndef SRC_MESSAGES_MESSAGE_NUMBERS_H_
#define SRC_MESSAGES_MESSAGE_NUMBERS_H_

// The text given for any number the catalogue does not hold.
constexpr int kMessageUnknown = 2;
// The banner, printed before the version text.
constexpr int kMessageBanner = 3;
// The end of the installation profile's processing.
constexpr int kMessageFinished = 7;
// A restart is needed and no reboot program is named.
constexpr int kMessageRestartNeeded = 8;
// No condition group holds; the run ends with both lines.
constexpr int kMessageNoConditionMet = 9;
constexpr int kMessageNotApplicable = 10;
constexpr int kMessageAlreadyInstalled = 11;
constexpr int kMessageDirectoryNotCreated = 12;
constexpr int kMessageIniNotLoaded = 15;
constexpr int kMessageNoTargetDirectory = 17;
// A condition names a missing section, or a section holds an unusable entry.
constexpr int kMessageBadProfile = 18;
constexpr int kMessageKeyNotOpened = 19;
constexpr int kMessageKeyNotCreated = 21;
constexpr int kMessageKeyNotDeleted = 22;
constexpr int kMessageSubkeysNotListed = 23;
constexpr int kMessageValueNotSet = 24;
constexpr int kMessageValueNotDeleted = 25;
constexpr int kMessageSubkeysNotCounted = 26;
constexpr int kMessageValueNotRead = 27;
constexpr int kMessageNoWindowsDirectory = 28;
constexpr int kMessageNotRenamed = 29;
constexpr int kMessageNotCopied = 30;
constexpr int kMessageNotErased = 31;
// The result lines of an installed file, one per copy result code, in the
// order of the codes 2, 4, 8, 16 and 32.
constexpr int kMessageFirstCopyResult = 32;
constexpr int kMessageCopyResultCount = 5;
constexpr int kMessageRebootProgramFailed = 37;
// Messages from here on are newer than some catalogues in use: NLSClass
// gives its built-in English text for one that a catalogue lacks.
// Another run holds the product's lock; the run ends.
constexpr int kMessageProductBusy = 38;
// A patch that an earlier run left unfinished was begun on the other kind of
// Windows and must be finished there.
constexpr int kMessageUnfinishedOtherKind = 39;
// A patch that an earlier run left unfinished was rolled back before this
// run went on.
constexpr int kMessageUnfinishedRolledBack = 40;
// An entry failed, so the patch stays out of the ledger.
constexpr int kMessagePatchNotRecorded = 41;
// Another patch, or this one with another profile, was left unfinished and
// could not be rolled back (or its journal cannot be read): nothing else is
// installed before it is.
constexpr int kMessageUnfinishedPatch = 42;
// SUBST could not fill in the placeholders of the file where it stands.
constexpr int kMessageNotFilledIn = 43;
// TAVRO.INI in the Windows directory names no product root: nothing is
// installed, and the run ends before it makes or changes anything.
constexpr int kMessageProductNotInstalled = 44;
// A time stamp before 1980 or after 2107 was compared, or given, as the
// nearest one a DOS stamp holds.
constexpr int kMessageStampClamped = 45;
// On the Windows 95 family the restart puts a file in place under its 8.3
// alias alone: its long name is lost.
constexpr int kMessageLongNameLost = 46;
// The patch is installed, but what would take it off again could not be
// kept (a full disk, say): it cannot be removed.
constexpr int kMessageUndoNotKept = 47;
// Removal: the patch named is not in the ledger.
constexpr int kMessageNotInstalled = 48;
// Removal: the patch was installed before undo data was kept.
constexpr int kMessageNoUndoData = 49;
// Removal: a later patch changed one of the same files or settings.
constexpr int kMessageLaterPatchOverlaps = 50;
// Removal: done.
constexpr int kMessagePatchRemoved = 51;
// Removal's result words: a file, INI key or registry value put back, and
// a file the patch had made taken away.
constexpr int kMessageRestored = 52;
constexpr int kMessageRemovedFile = 53;
// Removal: something could not be put back; the next run goes on with it.
constexpr int kMessageRemovalUnfinished = 54;
// A file of a sealed patch is missing or differs from its seal; the run
// ends before it changes anything.
constexpr int kMessagePatchDamaged = 55;

#endif  // SRC_MESSAGES_MESSAGE_NUMBERS_H_
