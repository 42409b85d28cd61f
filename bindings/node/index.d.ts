/// <reference types="node" />
import { Readable, Transform } from 'stream';

/** A password: a string is text as a person types it (the password rule: every form a
 * system may have keyed it with is tried; a new container is keyed with the form a Korean
 * Windows system types); bytes are used as they are, first. */
export type Password = string | Uint8Array;

export interface PasswordOptions {
  /** An empty password is meant (otherwise it is refused). */
  emptyPassword?: boolean;
}

export interface DecryptOptions extends PasswordOptions {
  /** The plaintext's path (default: the container's, less its extension). */
  out?: string;
  /** Replace a file at the plaintext's path once the container has authenticated. */
  overwrite?: boolean;
  /** What messages call a buffer's container. */
  name?: string;
}

export interface EncryptOptions extends PasswordOptions {
  /** Accept a password over the 11 bytes the desktop viewers' prompts take. */
  longPassword?: boolean;
  /** What messages call a buffer's container. */
  name?: string;
}

/** Every code of libqv3 (qv3.h), by name. */
export declare const codes: Readonly<Record<string, number>>;

/** Every failure of the package. */
export declare class Qv3Error extends Error {
  /** One of codes. */
  readonly code: number;
  readonly codeName: string;
  /** What the qv3 command exits with for it: 1, 2 or 130. */
  readonly exitStatus: number;
  /** The file it is about, or ''. */
  readonly path: string;
}

/** The plaintext of a container held in memory, once it has authenticated. */
export declare function decrypt(container: Uint8Array, password: Password, options?: DecryptOptions): Buffer;
/** Decrypts the container at path into a read-only file, put in place only once the
 * container has authenticated; returns its path. */
export declare function decrypt(path: string, password: Password, options?: DecryptOptions): string;

/** A container of the bytes. */
export declare function encrypt(plaintext: Uint8Array, password: Password, options?: EncryptOptions): Buffer;
/** Encrypts the file at path into path + '.aqv3' (with the empty password, its kind's
 * extension), never replacing anything; returns the container's path. */
export declare function encrypt(path: string, password: Password, options?: EncryptOptions): string;

/** The plaintext of the container at path as it is decrypted, UNAUTHENTICATED until the
 * stream ends without an error: the choice must be made in words. */
export declare function createDecryptStream(path: string, password: Password,
                                            options: PasswordOptions & { unauthenticated: true }): Readable;

/** Plaintext in, container out. */
export declare function createEncryptStream(password: Password, options?: EncryptOptions): Transform;

/** Whether a name ends in a container's extension. */
export declare function isContainerName(name: string): boolean;
/** The qv3 command's exit status for a code. */
export declare function exitStatus(code: number): number;
export declare const libraryVersion: string;
