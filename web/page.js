// The page: pick or drop containers, type the password once, follow each file with
// Cancel, then view or save each plaintext; or pick files, type a password twice and save
// each container under the engine's name for it. The engine runs in a worker made from the
// page's own script (engine.js), so the page also works opened straight from a folder.
/* global QV3_TEXTS, qv3PreferredLanguage, qv3WorkerMain, qv3Zip */
'use strict';

(function () {
  var MEMORY_WARNING_BYTES = 512 * 1024 * 1024;
  var VIEW_TEXT_BYTES = 2 * 1024 * 1024; // text shown in the page; the rest is saved
  var IMAGE_TYPES = { png: 'image/png', jpg: 'image/jpeg', jpeg: 'image/jpeg', gif: 'image/gif', bmp: 'image/bmp',
    webp: 'image/webp', ico: 'image/x-icon', avif: 'image/avif' };
  var MEDIA_TYPES = { mp3: 'audio/mpeg', wav: 'audio/wav', ogg: 'audio/ogg', oga: 'audio/ogg', m4a: 'audio/mp4',
    flac: 'audio/flac', mp4: 'video/mp4', webm: 'video/webm', ogv: 'video/ogg' };
  // Kinds never shown as text, whatever their bytes look like.
  var BINARY = /^(docx?|xlsx?|pptx?|hwp|odt|ods|odp|zip|7z|rar|alz|egg|gz|tgz|bz2|xz|exe|dll|msi|dwg|dxf|dwf|iso|bin|svg)$/;
  var ENCODINGS = ['utf-8', 'euc-kr', 'utf-16le', 'utf-16be', 'shift_jis', 'gb18030', 'big5', 'windows-1252'];

  var language = qv3PreferredLanguage(navigator.languages || (navigator.language ? [navigator.language] : []));
  var worker = null;
  var storage = null; // 'opfs' or 'memory', once the worker is ready
  var accept = ''; // the containers' extensions, from the engine
  var nextRun = 1;
  var nextSeq = 1;
  var lists = {};
  var runs = {}; // the list of each run or check under way, by its number
  var answers = {}; // what waits for the worker's answer, by its number

  function $(id) {
    return document.getElementById(id);
  }

  function t(key, values) {
    var text = QV3_TEXTS[language][key];
    return text.replace(/\{(\w+)\}/g, function (_, name) {
      return values && name in values ? values[name] : '';
    });
  }

  function formatSize(bytes) {
    if (bytes < 1024) return t('size', { n: bytes });
    var units = ['KiB', 'MiB', 'GiB', 'TiB'];
    var value = bytes;
    var unit = -1;
    do {
      value /= 1024;
      ++unit;
    } while (value >= 1024 && unit < units.length - 1);
    return (value < 10 ? value.toFixed(1) : Math.round(value)) + ' ' + units[unit];
  }

  function randomName() {
    var bytes = crypto.getRandomValues(new Uint8Array(16));
    return Array.prototype.map.call(bytes, function (b) { return (b + 256).toString(16).slice(1); }).join('');
  }

  function extensionOf(name) {
    var dot = name.lastIndexOf('.');
    return dot < 0 ? '' : name.slice(dot + 1).toLowerCase();
  }

  function element(tag, className, text) {
    var e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function isContainerName(name) {
    return accept.split(',').indexOf('.' + extensionOf(name)) >= 0;
  }

  // Orders paths as the folder walk does: depth first, each folder's names (files and
  // folders alike) by their UTF-8 bytes.
  function comparePaths(a, b) {
    var x = a.split('/');
    var y = b.split('/');
    for (var i = 0; i < Math.min(x.length, y.length); ++i) {
      if (x[i] === y[i]) continue;
      var ex = new TextEncoder().encode(x[i]);
      var ey = new TextEncoder().encode(y[i]);
      for (var k = 0; k < Math.min(ex.length, ey.length); ++k) if (ex[k] !== ey[k]) return ex[k] - ey[k];
      return ex.length - ey.length;
    }
    return x.length - y.length;
  }

  // Every file under the dropped entries, with its path from the dropped folder, in the
  // walk's order. Each folder is read to its end (the browser hands it over in batches).
  function gatherEntries(entries) {
    var found = [];
    function walk(entry, prefix) {
      var path = prefix + entry.name;
      if (entry.isFile) {
        return new Promise(function (resolve) {
          entry.file(function (file) {
            found.push({ file: file, path: path });
            resolve();
          }, function () { resolve(); });
        });
      }
      if (!entry.isDirectory) return Promise.resolve();
      var reader = entry.createReader();
      var children = [];
      function more() {
        return new Promise(function (resolve) {
          reader.readEntries(function (batch) { resolve(batch); }, function () { resolve([]); });
        }).then(function (batch) {
          if (!batch.length) return;
          children = children.concat(batch);
          return more();
        });
      }
      return more().then(function () {
        return children.reduce(function (at, child) {
          return at.then(function () { return walk(child, path + '/'); });
        }, Promise.resolve());
      });
    }
    return entries.reduce(function (at, entry) {
      return at.then(function () { return walk(entry, ''); });
    }, Promise.resolve()).then(function () {
      return found;
    });
  }

  // Sends a message that the worker answers with the same seq; resolves with the answer.
  function askWorker(message, transfer) {
    return new Promise(function (resolve) {
      message.seq = nextSeq++;
      answers[message.seq] = resolve;
      worker.postMessage(message, transfer || []);
    });
  }

  // Offers blob as a download named name.
  function download(blob, name) {
    var url = URL.createObjectURL(blob);
    var link = element('a');
    link.href = url;
    link.download = name;
    link.hidden = true;
    document.body.appendChild(link);
    link.click();
    link.remove();
    // The browser has taken the bytes by then; the URL is no longer needed.
    setTimeout(function () { URL.revokeObjectURL(url); }, 10000);
  }

  // ---------------------------------------------------------------------------------
  // One list of files (open or make) and its form.

  function FileListView(kind) {
    this.kind = kind; // 'open' or 'make'
    this.encrypt = kind === 'make';
    this.items = [];
    this.runId = 0;
    this.checkId = 0;
    this.runItems = [];
    this.list = $(kind + '-list');
    this.form = $(kind + '-form');
    this.notice = $(kind + '-notice');
    this.status = $(kind + '-status');
    this.alert = $(kind + '-alert');
    this.cancelButton = $(kind + '-cancel');
    this.startButton = $(kind + '-start');
    // Where the browser can write into a folder the user picks, outputs of any size go
    // straight there, in bounded memory.
    this.intoButton = $(kind + '-start-into');
    this.intoButton.hidden = !window.showDirectoryPicker;
    this.password = $(kind + '-password');
    this.again = $(kind + '-again');
    this.count = $(kind + '-count');
    this.hint = null; // the engine's line on what counts of the typed text: { typed, text, refused }
    this.noticeKey = null;
    this.wire();
  }

  FileListView.prototype.wire = function () {
    var self = this;
    var input = $(this.kind + '-files');
    input.addEventListener('change', function () {
      self.choose(Array.prototype.slice.call(input.files));
      input.value = '';
    });
    var folderInput = $(this.kind + '-folder');
    folderInput.addEventListener('change', function () {
      self.chooseFolder(Array.prototype.map.call(folderInput.files, function (file) {
        return { file: file, path: file.webkitRelativePath || file.name };
      }));
      folderInput.value = '';
    });
    $(this.kind + '-zip').addEventListener('click', function () { self.saveZip(); });
    $(this.kind + '-into').addEventListener('click', function () { self.saveInto(); });
    var drop = $(this.kind + '-drop');
    drop.addEventListener('dragover', function (e) {
      e.preventDefault();
      drop.classList.add('over');
    });
    drop.addEventListener('dragleave', function () {
      drop.classList.remove('over');
    });
    drop.addEventListener('drop', function (e) {
      e.preventDefault();
      drop.classList.remove('over');
      // A dropped folder stands for every file under it; the entries must be taken
      // while the event lasts.
      var entries = Array.prototype.map.call(e.dataTransfer.items || [], function (i) {
        return i.webkitGetAsEntry ? i.webkitGetAsEntry() : null;
      }).filter(Boolean);
      if (entries.some(function (entry) { return entry.isDirectory; })) {
        gatherEntries(entries).then(function (found) { self.chooseFolder(found); });
      } else {
        self.choose(Array.prototype.slice.call(e.dataTransfer.files));
      }
    });
    [this.password, this.again].forEach(function (field) {
      if (field) field.addEventListener('input', function () { self.updateForm(); });
    });
    this.form.addEventListener('submit', function (e) {
      e.preventDefault();
      self.start();
    });
    this.intoButton.addEventListener('click', function () {
      if (self.intoButton.disabled) return;
      window.showDirectoryPicker({ mode: 'readwrite', id: self.kind }).then(function (dir) {
        self.start(dir);
      }, function () {
        // the picker closed: nothing starts
      });
    });
    this.cancelButton.addEventListener('click', function () {
      if (self.runId) worker.postMessage({ type: 'cancel', id: self.runId });
    });
  };

  FileListView.prototype.running = function () {
    return this.runId !== 0;
  };

  // What a run takes: every file but those refused before a password was asked for.
  FileListView.prototype.runnable = function () {
    return this.items.filter(function (item) { return item.state !== 'refused'; });
  };

  // A folder's files ({ file, path }): making, every file but those already containers;
  // opening, every container. What is left out is counted and said.
  FileListView.prototype.chooseFolder = function (found) {
    if (this.running() || !found.length) return;
    var self = this;
    found.sort(function (a, b) { return comparePaths(a.path, b.path); });
    var kept = found.filter(function (f) { return self.encrypt !== isContainerName(f.file.name); });
    this.choose(kept.map(function (f) { return f.file; }), {
      name: found[0].path.split('/')[0],
      paths: kept.map(function (f) { return f.path; }),
      found: found.length,
      skipped: found.length - kept.length,
    });
  };

  // New files replace the list (and what it had made) unless a run is going on. The
  // containers are first checked for what can be told without their password.
  FileListView.prototype.choose = function (files, folder) {
    if (this.running() || (!files.length && !folder)) return;
    this.clear();
    var self = this;
    this.folder = folder || null;
    $(this.kind + '-all').hidden = true;
    files.forEach(function (file, i) {
      self.items.push({ file: file, path: folder ? folder.paths[i] : file.name, state: self.encrypt ? 'new' : 'checking',
        percent: 0 });
    });
    this.noticeKey = null;
    this.room = null;
    this.measureRoom();
    if (!files.length) {
      this.form.hidden = true;
      this.render();
      this.renderNotice();
      return;
    }
    if (storage === 'memory' && files.some(function (f) { return f.size > MEMORY_WARNING_BYTES; })) {
      this.noticeKey = 'tooLargeForMemory';
    }
    this.render();
    if (this.encrypt) {
      this.form.hidden = false;
      this.updateForm();
      this.password.focus();
      return;
    }
    this.form.hidden = true;
    this.renderNotice();
    this.checkId = nextRun++;
    runs[this.checkId] = this;
    this.announce(t('checking', { n: files.length }));
    worker.postMessage({ type: 'probe', id: this.checkId, files: files, language: language });
  };

  FileListView.prototype.clear = function () {
    $(this.kind + '-all').hidden = true;
    var stored = [];
    this.items.forEach(function (item) {
      if (item.stored) stored.push(item.stored.name);
    });
    if (stored.length && worker) worker.postMessage({ type: 'discard', names: stored });
    if (this.checkId) {
      // The check of the files before goes on no longer, and what it still says is not heard.
      worker.postMessage({ type: 'cancel', id: this.checkId });
      delete runs[this.checkId];
      this.checkId = 0;
    }
    if (view.item && this.items.indexOf(view.item) >= 0) view.close();
    this.items = [];
    this.room = null;
  };

  // How much the private storage can still take, asked of the browser when files are
  // chosen: a run whose outputs would not fit is refused before it starts, the room said.
  FileListView.prototype.measureRoom = function () {
    var self = this;
    if (storage !== 'opfs' || !navigator.storage || !navigator.storage.estimate) return;
    var items = this.items;
    navigator.storage.estimate().then(function (e) {
      if (self.items !== items) return;
      self.room = Math.max(0, (e.quota || 0) - (e.usage || 0));
      self.updateForm();
    }, function () {});
  };

  // What the run's outputs take at most: each about its input, with the records' overhead.
  FileListView.prototype.outputBytes = function () {
    return this.runnable().reduce(function (n, item) {
      return n + item.file.size * (1 + 20 / (1024 * 1024)) + 4096;
    }, 0);
  };

  // The start button, the count line and the notice, for what is typed now. The count
  // line is the engine's (what counts of the text in the form it is hashed in); it is
  // asked for whenever the text changes.
  FileListView.prototype.updateForm = function () {
    var typed = this.password.value;
    if (!this.hint || this.hint.typed !== typed) this.requestHint(typed);
    var runnable = this.runnable();
    var ready = storage !== null && !this.running() && !this.checkId && runnable.length > 0;
    var problem = null;
    var refused = this.hint && this.hint.typed === typed && this.hint.refused;
    if (this.encrypt) {
      if (typed !== this.again.value) problem = 'mismatch';
      else if (refused) problem = 'refusedPassword';
      else if (typed === '' && this.items.length) problem = 'emptyPassword';
      ready = ready && typed === this.again.value && !refused && this.hint && this.hint.typed === typed;
    } else {
      var without = runnable.length > 0 && runnable.every(function (item) { return item.opensWithout; });
      if (typed === '' && without) problem = 'opensWithout';
      ready = ready && (typed !== '' || without);
    }
    this.intoButton.disabled = !ready;
    if (this.room !== null && this.outputBytes() > this.room) {
      problem = 'tooLargeForStorage';
      ready = false;
    }
    this.startButton.disabled = !ready;
    this.formProblem = problem;
    this.password.setAttribute('aria-invalid', problem === 'refusedPassword' || problem === 'mismatch' ? 'true' : 'false');
    this.renderNotice();
  };

  FileListView.prototype.requestHint = function (typed) {
    if (!worker) return;
    var self = this;
    var bytes = new TextEncoder().encode(typed);
    this.hint = { typed: typed, text: null, refused: false };
    var asked = this.hint;
    askWorker({ type: 'hint', making: this.encrypt, password: bytes, language: language }, [bytes.buffer])
      .then(function (answer) {
        if (self.hint !== asked) return;
        asked.text = answer.text;
        asked.refused = answer.refused;
        self.count.textContent = answer.text;
        self.updateForm();
      });
  };

  FileListView.prototype.renderNotice = function () {
    var key = this.formProblem || this.noticeKey;
    // What a folder stood for.
    var folder = this.folder;
    var summary = $(this.kind + '-summary');
    summary.hidden = !folder;
    summary.textContent = folder ? t(this.encrypt ? 'folderMake' : 'folderOpen',
      { name: folder.name, n: folder.found - folder.skipped, skipped: folder.skipped }) : '';
    this.notice.hidden = !key;
    this.notice.className = 'notice' + (key && key !== 'opensWithout' ? ' warn' : '');
    this.notice.textContent = !key ? '' : key === 'refusedPassword' ? this.hint.text
      : t(key, { size: formatSize(MEMORY_WARNING_BYTES), room: formatSize(this.room || 0),
        need: formatSize(this.outputBytes()) }) + (key === 'tooLargeForStorage' && window.showDirectoryPicker ? ' ' + t('useInto') : '');
  };

  // Tells assistive technology what happened, without moving the focus: politely, or
  // at once for a failure.
  FileListView.prototype.announce = function (text, urgent) {
    (urgent ? this.alert : this.status).textContent = text;
    (urgent ? this.status : this.alert).textContent = '';
  };

  // Runs the list; into: a folder the user picked, where the outputs are written.
  FileListView.prototype.start = function (into) {
    if (into ? this.intoButton.disabled : this.startButton.disabled) return;
    var password = new TextEncoder().encode(this.password.value);
    this.password.value = '';
    if (this.again) this.again.value = '';
    this.hint = null;
    this.runId = nextRun++;
    runs[this.runId] = this;
    this.runItems = this.runnable();
    this.runItems.forEach(function (item) {
      item.state = 'waiting';
      item.percent = 0;
      item.message = null;
    });
    this.noticeKey = null;
    worker.postMessage({
      type: 'run',
      id: this.runId,
      encrypt: this.encrypt,
      files: this.runItems.map(function (item) { return item.file; }),
      into: into || null,
      // The folders each output goes under, in a folder's run.
      folders: this.runItems.map(function (item) { return item.path.split('/').slice(0, -1); }),
      password: password,
      language: language,
    }, [password.buffer]);
    this.cancelButton.hidden = false;
    this.render();
    this.updateForm();
    this.cancelButton.focus();
  };

  // What the worker says of a check (before the password) or of a run.
  FileListView.prototype.onMessage = function (m) {
    if (m.id === this.checkId) return this.onCheck(m);
    var item = this.runItems[m.index];
    switch (m.type) {
      case 'start':
        item.state = 'working';
        item.percent = 0;
        break;
      case 'progress':
        item.percent = m.percent;
        if (item.progress) item.progress.value = m.percent;
        return;
      case 'done':
        item.state = 'done';
        item.percent = 100;
        item.output = m.file; // memory: the Blob; else stored encrypted
        item.stored = m.stored;
        item.outputName = m.name;
        if (m.written) {
          item.state = 'written';
          item.written = m.written;
        }
        break;
      case 'failed':
        if (!item) {
          this.noticeKey = null;
          this.notice.hidden = false;
          this.notice.className = 'notice warn';
          this.notice.textContent = m.message;
          return;
        }
        item.state = 'failed';
        item.message = m.message;
        break;
      case 'cancelled':
        item.state = 'cancelled';
        break;
      case 'end':
        this.endRun();
        return;
    }
    this.renderItem(item);
  };

  FileListView.prototype.endRun = function () {
    var self = this;
    var counts = { done: 0, failed: 0, cancelled: 0, written: 0 };
    this.runItems.forEach(function (item) {
      if (item.state === 'waiting') {
        item.state = 'notStarted';
        self.renderItem(item);
      }
      if (item.state in counts) ++counts[item.state];
    });
    counts.done += counts.written;
    delete runs[this.runId];
    this.runId = 0;
    this.cancelButton.hidden = true;
    this.updateForm();
    var failed = this.runItems.filter(function (item) { return item.state === 'failed'; })[0];
    this.announce(t('runEnded', counts) + (failed ? ' ' + failed.message.replace(/\r?\n/g, ' ') : ''), !!failed);
    if (this.folder && counts.done) {
      $(this.kind + '-all').hidden = false;
      $(this.kind + '-into').hidden = !window.showDirectoryPicker;
    }
    var first = this.list.querySelector('li[data-state="failed"] .failure, li[data-state="done"] .actions button');
    if (first && first.tagName === 'BUTTON') first.focus();
    else this.startButton.focus();
  };

  FileListView.prototype.onCheck = function (m) {
    var item = this.items[m.index];
    if (m.type === 'progress') {
      item.percent = m.percent;
      if (item.progress) item.progress.value = m.percent;
      return;
    }
    if (m.type === 'probed') {
      if (m.outcome === 'refused') {
        item.state = 'refused';
        item.message = m.message;
      } else if (m.outcome !== 'cancelled') {
        item.state = 'new';
        item.opensWithout = m.outcome === 'opens';
      }
      this.renderItem(item);
      return;
    }
    if (m.type !== 'end') return;
    delete runs[this.checkId];
    this.checkId = 0;
    var runnable = this.runnable();
    this.form.hidden = runnable.length === 0;
    this.updateForm();
    var refused = this.items.length - runnable.length;
    var first = this.items.filter(function (item) { return item.state === 'refused'; })[0];
    this.announce(t('checked', { n: runnable.length, refused: refused }) +
      (first ? ' ' + first.message.replace(/\r?\n/g, ' ') : ''), !!first);
    if (runnable.length) {
      if (runnable.every(function (i) { return i.opensWithout; })) this.startButton.focus();
      else this.password.focus();
    }
  };

  // Every row anew (a new list, a new language).
  FileListView.prototype.render = function () {
    var self = this;
    this.list.textContent = '';
    this.items.forEach(function (item) {
      item.li = null;
      self.renderItem(item);
      self.list.appendChild(item.li);
    });
  };

  // One row anew: a change to one file touches only its row.
  FileListView.prototype.renderItem = function (item) {
    var self = this;
    var li = element('li');
    li.dataset.state = item.state;
    li.dataset.index = this.items.indexOf(item);
    var name = element('div', 'name', item.path);
    name.appendChild(element('span', 'size', formatSize(item.file.size)));
    li.appendChild(name);
    var actions = element('div', 'actions');
    if (item.state === 'done') {
      if (!self.encrypt) {
        var viewButton = element('button', 'quiet view', t('view'));
        viewButton.type = 'button';
        viewButton.setAttribute('aria-label', t('viewNamed', { name: item.outputName }));
        viewButton.addEventListener('click', function () { view.show(item); });
        actions.appendChild(viewButton);
      }
      var save = element('button', 'save', t('save'));
      save.type = 'button';
      save.setAttribute('aria-label', t('saveNamed', { name: item.outputName }));
      save.addEventListener('click', function () { self.save(item); });
      actions.appendChild(save);
    }
    li.appendChild(actions);
    item.progress = null;
    if (item.state === 'working' || item.state === 'checking') {
      item.progress = element('progress');
      item.progress.setAttribute('aria-label', item.file.name);
      item.progress.max = 100;
      item.progress.value = item.percent;
      li.appendChild(item.progress);
    }
    var status = {
      checking: t('checkingOne'),
      new: item.opensWithout ? t('opensWithoutOne') : self.encrypt ? t('askNewPassword') : t('askPassword'),
      waiting: t('waiting'),
      working: t('working'),
      done: self.encrypt ? t('encrypted', { name: item.outputName }) : t('decrypted'),
      saved: t('saved', { name: item.outputName }),
      written: t('written', { name: item.written }),
      cancelled: t('cancelled'),
      notStarted: t('notStarted'),
    }[item.state];
    if (item.state === 'failed' || item.state === 'refused') {
      var failure = element('p', 'failure');
      // The engine's own text, its line breaks kept.
      failure.appendChild(document.createTextNode(item.message.replace(/\r\n/g, '\n')));
      li.appendChild(failure);
    } else {
      li.appendChild(element('div', 'status' + (['done', 'saved', 'written'].indexOf(item.state) >= 0 ? ' good' : ''),
        status));
    }
    if (item.li) this.list.replaceChild(li, item.li);
    item.li = li;
  };

  // Saves an output: from memory as it is; from the private storage decrypted, then
  // removed from there at once (the saved file is the user's copy).
  FileListView.prototype.save = function (item) {
    var self = this;
    if (item.output) {
      download(item.output, item.outputName);
      return;
    }
    if (!item.stored || item.revealing) return;
    item.revealing = true;
    askWorker({ type: 'reveal', stored: item.stored }).then(function (answer) {
      item.revealing = false;
      if (answer.error) {
        item.state = 'failed';
        item.message = t('unreadable', { message: answer.error.message });
      } else {
        download(answer.file, item.outputName);
        worker.postMessage({ type: 'discard', names: [item.stored.name] });
        item.stored = null;
        item.state = 'saved';
        if (view.item === item) view.close();
      }
      self.renderItem(item);
      self.announce(item.state === 'saved' ? t('saved', { name: item.outputName }) : item.message, item.state !== 'saved');
      var next = self.list.querySelector('li[data-state="done"] button.save');
      if (next) next.focus();
    });
  };

  // Where an output goes in a folder's tree: beside its input, under its own name.
  function outputPath(item) {
    var slash = item.path.lastIndexOf('/');
    return (slash < 0 ? '' : item.path.slice(0, slash + 1)) + item.outputName;
  }

  // An output's bytes: from memory, or read back from the private storage.
  function outputOf(item) {
    if (item.output) return Promise.resolve(item.output);
    return askWorker({ type: 'reveal', stored: item.stored }).then(function (answer) {
      if (answer.error) throw new Error(t('unreadable', { message: answer.error.message }));
      return answer.file;
    });
  }

  FileListView.prototype.doneItems = function () {
    return this.items.filter(function (item) { return item.state === 'done'; });
  };

  // Once an output is saved, the copy the page kept goes.
  FileListView.prototype.markSaved = function (item) {
    if (item.stored) worker.postMessage({ type: 'discard', names: [item.stored.name] });
    item.stored = null;
    item.state = 'saved';
    if (view.item === item) view.close();
    this.renderItem(item);
  };

  // Every output of a folder's run as one .zip of its tree.
  FileListView.prototype.saveZip = function () {
    var self = this;
    var items = this.doneItems();
    var entries = [];
    var from = function (i) {
      if (i >= items.length) return Promise.resolve();
      return outputOf(items[i]).then(function (blob) {
        entries.push({ path: outputPath(items[i]), blob: blob });
        return from(i + 1);
      });
    };
    from(0).then(function () {
      return qv3Zip(entries);
    }).then(function (zip) {
      download(zip, self.folder.name + '.zip');
      items.forEach(function (item) { self.markSaved(item); });
      $(self.kind + '-all').hidden = true;
      self.announce(t('savedAll', { n: items.length }));
    }, function (e) {
      self.announce(t('notSaved', { message: e.message }), true);
    });
  };

  // Every output of a folder's run written into a folder the user picks, in its tree; a
  // name already there is left as it is and that file said not saved.
  FileListView.prototype.saveInto = function () {
    var self = this;
    var items = this.doneItems();
    var saved = 0;
    window.showDirectoryPicker({ mode: 'readwrite' }).then(function (root) {
      var one = function (item) {
        var parts = outputPath(item).split('/');
        var name = parts.pop();
        var folder = parts.reduce(function (at, part) {
          return at.then(function (dir) { return dir.getDirectoryHandle(part, { create: true }); });
        }, Promise.resolve(root));
        return Promise.all([folder, outputOf(item)]).then(function (got) {
          var dir = got[0];
          return dir.getFileHandle(name).then(function () {
            throw new Error(t('exists', { name: outputPath(item) }));
          }, function (e) {
            if (!e || e.name !== 'NotFoundError') throw e;
            return dir.getFileHandle(name, { create: true });
          }).then(function (handle) {
            return handle.createWritable();
          }).then(function (writable) {
            return writable.write(got[1]).then(function () { return writable.close(); });
          });
        }).then(function () {
          ++saved;
          self.markSaved(item);
        }, function (e) {
          item.state = 'failed';
          item.message = t('notSaved', { message: e.message });
          self.renderItem(item);
        });
      };
      return items.reduce(function (at, item) { return at.then(function () { return one(item); }); }, Promise.resolve());
    }).then(function () {
      if (!self.doneItems().length) $(self.kind + '-all').hidden = true;
      self.announce(t('savedAll', { n: saved }), saved < items.length);
    }, function (e) {
      if (e && e.name === 'AbortError') return; // the user closed the picker
      self.announce(t('notSaved', { message: e.message }), true);
    });
  };

  // The worker is gone: every run and check ends, saying why.
  FileListView.prototype.abandon = function (message) {
    var self = this;
    this.items.forEach(function (item) {
      if (['checking', 'waiting', 'working'].indexOf(item.state) >= 0) {
        item.state = 'failed';
        item.message = message;
        self.renderItem(item);
      }
    });
    delete runs[this.runId];
    delete runs[this.checkId];
    this.runId = 0;
    this.checkId = 0;
    this.cancelButton.hidden = true;
    this.startButton.disabled = true;
    this.intoButton.disabled = true;
    this.announce(message, true);
  };

  // ---------------------------------------------------------------------------------
  // Viewing a plaintext in the page.

  var view = {
    item: null,
    url: null,
    bytes: null,
    detected: null,

    // A stored output is read back (decrypted) for the view and dropped when it closes.
    show: function (item) {
      this.close();
      this.item = item;
      $('view').hidden = false;
      $('view-title').textContent = item.outputName;
      var self = this;
      var plaintext = item.output ? Promise.resolve(item.output)
        : askWorker({ type: 'reveal', stored: item.stored }).then(function (answer) { return answer.file; });
      plaintext.then(function (blob) {
        if (self.item !== item) return;
        if (blob) self.present(item, blob);
        else self.say('noPreview');
      });
      $('view').scrollIntoView({ block: 'nearest' });
      $('view-close').focus();
    },

    present: function (item, blob) {
      var ext = extensionOf(item.outputName);
      var body = $('view-body');
      var self = this;
      if (IMAGE_TYPES[ext]) {
        var img = element('img');
        img.alt = item.outputName;
        img.src = this.blobUrl(blob, IMAGE_TYPES[ext]);
        body.appendChild(img);
      } else if (ext === 'pdf') {
        var frame = element('iframe');
        frame.title = item.outputName;
        frame.src = this.blobUrl(blob, 'application/pdf');
        body.appendChild(frame);
      } else if (MEDIA_TYPES[ext]) {
        var media = element(MEDIA_TYPES[ext].indexOf('video') === 0 ? 'video' : 'audio');
        media.controls = true;
        media.src = this.blobUrl(blob, MEDIA_TYPES[ext]);
        body.appendChild(media);
      } else if (BINARY.test(ext)) {
        this.say('noPreview');
      } else {
        blob.slice(0, VIEW_TEXT_BYTES).arrayBuffer().then(function (buffer) {
          if (self.item !== item) return;
          var bytes = new Uint8Array(buffer);
          var encoding = detectText(bytes);
          if (!encoding) {
            self.say('noPreview');
            return;
          }
          self.bytes = bytes;
          self.detected = encoding;
          self.fillEncodings();
          self.showText(encoding);
          if (blob.size > VIEW_TEXT_BYTES) self.say('shownPart');
        });
      }
    },

    blobUrl: function (blob, type) {
      this.url = URL.createObjectURL(new Blob([blob], { type: type }));
      return this.url;
    },

    say: function (key) {
      var notice = $('view-notice');
      notice.hidden = false;
      notice.dataset.key = key;
      notice.textContent = t(key, { size: formatSize(VIEW_TEXT_BYTES) });
    },

    fillEncodings: function () {
      var select = $('view-encoding');
      var current = select.value || '';
      select.textContent = '';
      var auto = element('option', null, t('automatic', { name: this.detected }));
      auto.value = '';
      select.appendChild(auto);
      ENCODINGS.forEach(function (name) {
        var option = element('option', null, name);
        option.value = name;
        select.appendChild(option);
      });
      select.value = current;
      $('view-encoding-label').hidden = false;
    },

    showText: function (encoding) {
      var body = $('view-body');
      body.textContent = '';
      var pre = element('pre');
      pre.id = 'view-text';
      pre.textContent = new TextDecoder(encoding).decode(this.bytes, { stream: true });
      body.appendChild(pre);
    },

    close: function () {
      if (this.url) URL.revokeObjectURL(this.url);
      this.url = null;
      this.item = null;
      this.bytes = null;
      $('view').hidden = true;
      $('view-body').textContent = '';
      $('view-notice').hidden = true;
      $('view-encoding-label').hidden = true;
      $('view-encoding').value = '';
    },

    relabel: function () {
      if (!this.item) return;
      if (this.bytes) this.fillEncodings();
      var notice = $('view-notice');
      if (!notice.hidden) this.say(notice.dataset.key);
    },
  };

  // The encoding of text bytes, or null when they do not look like text: a byte order
  // mark, else UTF-8 when they are valid UTF-8, else code page 949 when valid as that,
  // else windows-1252. Text has no NUL bytes (UTF-16 has a byte order mark).
  function detectText(bytes) {
    if (bytes[0] === 0xef && bytes[1] === 0xbb && bytes[2] === 0xbf) return 'utf-8';
    if (bytes[0] === 0xff && bytes[1] === 0xfe) return 'utf-16le';
    if (bytes[0] === 0xfe && bytes[1] === 0xff) return 'utf-16be';
    if (bytes.subarray(0, 65536).indexOf(0) >= 0) return null;
    var candidates = ['utf-8', 'euc-kr'];
    for (var i = 0; i < candidates.length; ++i) {
      try {
        // Streaming: a character cut by the end of what is shown is no error.
        new TextDecoder(candidates[i], { fatal: true }).decode(bytes, { stream: true });
        return candidates[i];
      } catch (e) {
        // not this one
      }
    }
    return 'windows-1252';
  }

  // ---------------------------------------------------------------------------------
  // Language, the worker, start-up.

  function applyLanguage() {
    document.documentElement.lang = language;
    Array.prototype.forEach.call(document.querySelectorAll('[data-text]'), function (e) {
      e.textContent = t(e.dataset.text);
    });
    var button = $('language');
    // The button's name is what it shows, in the language it names.
    button.textContent = t('language');
    button.lang = language === 'ko' ? 'en' : 'ko';
    button.title = t('languageLabel');
    document.title = t('title');
    if (document.body.dataset.ready !== 'broken') {
      $('storage').textContent = storage ? t(storage === 'opfs' ? 'storageDisk' : 'storageMemory',
        { size: formatSize(MEMORY_WARNING_BYTES) }) : '';
    }
    Object.keys(lists).forEach(function (k) {
      lists[k].hint = null; // the engine's line again, in the new language
      lists[k].updateForm();
      lists[k].render();
    });
    view.relabel();
  }

  // The worker could not start, or stopped: every run ends, and the page says why.
  function broken(message) {
    var started = document.body.dataset.ready && document.body.dataset.ready !== 'broken';
    var text = t(started ? 'engineStopped' : 'engineBroken', { message: message });
    document.body.dataset.ready = 'broken';
    $('storage').textContent = text;
    Object.keys(lists).forEach(function (k) { lists[k].abandon(text); });
  }

  function startWorker(key) {
    var source = '(' + qv3WorkerMain.toString() + ')();';
    var url = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
    try {
      worker = new Worker(url);
    } catch (e) {
      broken(String(e && e.message || e));
      return;
    } finally {
      URL.revokeObjectURL(url);
    }
    worker.onerror = function (e) {
      e.preventDefault();
      broken(String(e.message || t('workerStopped')));
    };
    worker.onmessage = function (e) {
      var m = e.data;
      if (m.type === 'ready') {
        storage = m.storage;
        accept = m.accept;
        $('open-files').accept = accept;
        document.body.dataset.ready = m.storage;
        applyLanguage();
      } else if (m.type === 'broken') {
        broken(m.message);
      } else if (m.seq && answers[m.seq]) {
        var answer = answers[m.seq];
        delete answers[m.seq];
        answer(m);
      } else if (runs[m.id]) {
        runs[m.id].onMessage(m);
      }
    };
    worker.postMessage({ type: 'init', folder: 'run-' + randomName(), key: key });
  }

  // Outputs kept in the private storage are encrypted under this key, which lives only
  // in this page's memory (and its worker's): it is never stored, and cannot be taken
  // out of the browser's crypto.
  function makeKey() {
    if (!window.crypto || !crypto.subtle) return Promise.resolve(null);
    return crypto.subtle.generateKey({ name: 'AES-GCM', length: 256 }, false, ['encrypt', 'decrypt'])
      .catch(function () { return null; });
  }

  function init() {
    lists.open = new FileListView('open');
    lists.make = new FileListView('make');
    $('language').addEventListener('click', function () {
      language = language === 'ko' ? 'en' : 'ko';
      applyLanguage();
    });
    $('view-close').addEventListener('click', function () { view.close(); });
    $('view-encoding').addEventListener('change', function () {
      view.showText($('view-encoding').value || view.detected);
    });
    // A file dropped beside the drop zones must not replace the page.
    ['dragover', 'drop'].forEach(function (type) {
      window.addEventListener(type, function (e) { e.preventDefault(); });
    });
    // What the page kept goes with it.
    window.addEventListener('pagehide', function () {
      if (worker) worker.postMessage({ type: 'leave' });
    });
    // A page brought back from the browser's cache has lost its outputs: start anew.
    window.addEventListener('pageshow', function (e) {
      if (e.persisted) location.reload();
    });
    applyLanguage();
    makeKey().then(startWorker);
    // Served as the site (not as one file, not from a folder): kept for use offline, and
    // an installed site hands over the containers it is asked to open.
    if (navigator.serviceWorker && document.querySelector('link[rel="manifest"]') && location.protocol !== 'file:') {
      navigator.serviceWorker.register('sw.js').catch(function () {});
    }
    if (window.launchQueue) {
      window.launchQueue.setConsumer(function (params) {
        Promise.all((params.files || []).map(function (handle) { return handle.getFile(); })).then(function (files) {
          lists.open.choose(files);
        });
      });
    }
  }

  init();
})();
